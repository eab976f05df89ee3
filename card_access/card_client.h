// The card as the service and the monitor utility see it: the three calls they make. The
// native build and the simulation go through LibraryCardClient, the Windows programs through
// ImportedCardClient (the DLL's imports).
#pragma once

#include <stdint.h>

#include "card_access/qxrtime.h"

namespace qxr::card_access {

class CardClient {
  public:
    virtual ~CardClient() = default;
    virtual uint32_t GetHwStatus(CardStatus* status) = 0;
    virtual uint32_t GetTime(CardTime* time) = 0;
    virtual uint32_t SetTime(const CardTime* time) = 0;
};

}  // namespace qxr::card_access
