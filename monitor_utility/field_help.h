// Per-field help: which pop-up template belongs to which control of the monitor dialog, and
// the dialog's caption with the program's version.
#pragma once

#include <cstddef>

#include "platform/ports/threads.h"

namespace qxr::monitor {

// Help pop-up templates.
inline constexpr int kHelpCardTime = 132;
inline constexpr int kHelpSetButton = 133;
inline constexpr int kHelpSystemTime = 134;
inline constexpr int kHelpOffset = 135;
inline constexpr int kHelpAdjust = 136;
inline constexpr int kHelpPeakOffset = 137;
inline constexpr int kHelpReference = 138;
inline constexpr int kHelpHeartbeat = 139;

inline constexpr char kMakerNotice[] = "Quoxar time reference card monitor";

// The pop-up template for a control id, or 0 when the control has none.
int HelpTemplateFor(int controlId);

// "v1.2.0.0" from the program's version resource; empty when it has none.
void FormatVersionText(platform::ModuleInfo& module, char* text, size_t size);
// "QXRSET v1.2.0.0 - <notice>", or "QXRSET - <notice>" without a version.
void FormatCaption(platform::ModuleInfo& module, char* text, size_t size);

}  // namespace qxr::monitor
