// The entries of the dialog's two drop-down lists and what each one stands for.
#pragma once

#include <cstdint>

namespace qxr::device_config {

// Bus types as the driver reads them from "Quoxar Product".
inline constexpr int32_t kBusIsa = 1;
inline constexpr int32_t kBusPci = 2;

// Bus and port list: entry 0 is PCI, entries 1 to 8 the ISA ports 0x300 to 0x370.
inline constexpr int kBusChoiceCount = 9;
extern const char* const kBusChoiceTexts[kBusChoiceCount];
inline constexpr int32_t kFirstIsaPort = 0x300;
inline constexpr int32_t kLastIsaPort = 0x370;

struct InterruptChoice {
    const char* text;
    int32_t irq;
};
inline constexpr int kInterruptChoiceCount = 6;
extern const InterruptChoice InterruptChoices[kInterruptChoiceCount];

// The bus list's entry for a stored bus type and port, -1 for none. A port between two
// entries shows the lower one; one below 0x300 by less than 16 still shows 0x300 and one
// 16 to 31 below shows entry 0 (the index arithmetic truncates toward zero).
int BusChoiceOf(int32_t busType, int32_t ioPort);
// The interrupt list's entry for a stored interrupt, -1 for none.
int InterruptChoiceOf(int32_t irq);

}  // namespace qxr::device_config
