#include "monitor_utility/field_help.h"

#include <cstdio>

#include "monitor_utility/dialog_controls.h"
#include "monitor_utility/monitor_dialog.h"

namespace qxr::monitor {

int HelpTemplateFor(int controlId) {
    switch (controlId) {
        case kCardTimeField:
            return kHelpCardTime;
        case kSetButton:
            return kHelpSetButton;
        case kSystemTimeField:
            return kHelpSystemTime;
        case kOffsetField:
            return kHelpOffset;
        case kAdjustBox:
            return kHelpAdjust;
        case kPeakOffsetField:
            return kHelpPeakOffset;
        case kReferenceField:
            return kHelpReference;
        case kHeartbeat1:
        case kHeartbeat2:
        case kHeartbeat3:
            return kHelpHeartbeat;
        default:
            return 0;
    }
}

void FormatVersionText(platform::ModuleInfo& module, char* text, size_t size) {
    platform::FileVersion version{};
    if (!module.GetFileVersion(&version)) {
        if (size > 0) text[0] = '\0';
        return;
    }
    std::snprintf(text, size, "v%d.%d.%d.%d", version.major, version.minor, version.build,
                  version.revision);
}

void FormatCaption(platform::ModuleInfo& module, char* text, size_t size) {
    char version[32];
    FormatVersionText(module, version, sizeof version);
    std::snprintf(text, size, "QXRSET %s%s- %s", version, version[0] != '\0' ? " " : "",
                  kMakerNotice);
}

void MonitorDialog::OnHelp() {
    // A request with Shift, Ctrl or Alt held is not passed on.
    if (controls_.ModifierKeyDown()) return;
    // The pointer decides, not the focus.
    const int templateId = HelpTemplateFor(controls_.ChildAtCursor());
    if (templateId != 0) controls_.ShowHelpPopup(templateId);
}

}  // namespace qxr::monitor
