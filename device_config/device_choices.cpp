#include "device_config/device_choices.h"

namespace qxr::device_config {

const char* const kBusChoiceTexts[kBusChoiceCount] = {
    "PCI - Auto", "ISA - 300", "ISA - 310", "ISA - 320", "ISA - 330",
    "ISA - 340",  "ISA - 350", "ISA - 360", "ISA - 370",
};

// The one-digit texts begin with a space, so that the numbers line up.
const InterruptChoice InterruptChoices[kInterruptChoiceCount] = {
    {" 5", 5}, {" 7", 7}, {"10", 10}, {"11", 11}, {"12", 12}, {"15", 15},
};

int BusChoiceOf(int32_t busType, int32_t ioPort) {
    if (busType == kBusPci) return 0;
    if (busType != kBusIsa) return -1;
    // In 64 bits: a stored port far out of range must not overflow; C++ division truncates
    // toward zero, as the entry arithmetic wants.
    const int64_t index = (static_cast<int64_t>(ioPort) - kFirstIsaPort) / 16 + 1;
    return index >= 0 && index < kBusChoiceCount ? static_cast<int>(index) : -1;
}

int InterruptChoiceOf(int32_t irq) {
    for (int i = 0; i < kInterruptChoiceCount; ++i) {
        if (InterruptChoices[i].irq == irq) return i;
    }
    return -1;
}

}  // namespace qxr::device_config
