// CardClient over an in-process CardLibrary (native builds, the simulation, tests).
#pragma once

#include "card_access/card_client.h"
#include "card_access/card_library.h"

namespace qxr::card_access {

class LibraryCardClient : public CardClient {
  public:
    explicit LibraryCardClient(CardLibrary& library) : library_(library) {}
    uint32_t GetHwStatus(CardStatus* status) override { return library_.GetHwStatus(status); }
    uint32_t GetTime(CardTime* time) override { return library_.GetTime(time); }
    uint32_t SetTime(const CardTime* time) override { return library_.SetTime(time); }

  private:
    CardLibrary& library_;
};

}  // namespace qxr::card_access
