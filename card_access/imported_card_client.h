// CardClient over the exports of qxrtime.dll, linked at load time (Windows programs).
#pragma once

#include "card_access/card_client.h"

namespace qxr::card_access {

class ImportedCardClient : public CardClient {
  public:
    uint32_t GetHwStatus(CardStatus* status) override { return ::QxrGetHwStatus(status); }
    uint32_t GetTime(CardTime* time) override { return ::QxrGetTime(time); }
    uint32_t SetTime(const CardTime* time) override { return ::QxrSetTime(time); }
};

}  // namespace qxr::card_access
