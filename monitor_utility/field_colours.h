// The colours of the monitor dialog's edit controls: green text in the one field that can be
// edited, black in the read-only ones, all on the same pale background.
#pragma once

#include <cstdint>

namespace qxr::monitor {

// Colours as 0x00BBGGRR (a Windows COLORREF).
inline constexpr uint32_t Rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red | (green << 8) | (blue << 16);
}
inline constexpr uint32_t kFieldBackground = Rgb(255, 250, 240);
inline constexpr uint32_t kEditableText = Rgb(0, 128, 0);
inline constexpr uint32_t kReadOnlyText = Rgb(0, 0, 0);

enum class ColourRequest { kEdit, kStatic, kOther };  // WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC, ...

struct FieldColours {
    bool custom;  // false: the platform's default colours
    uint32_t text;
    uint32_t background;
};

// isEditClass: the control's window class is "Edit"; haveBrush: the background brush exists.
inline FieldColours ChooseFieldColours(ColourRequest request, bool isEditClass, bool haveBrush) {
    if (!haveBrush) return FieldColours{false, 0, 0};
    if (request == ColourRequest::kEdit) return FieldColours{true, kEditableText, kFieldBackground};
    if (request == ColourRequest::kStatic && isEditClass) {
        return FieldColours{true, kReadOnlyText, kFieldBackground};
    }
    return FieldColours{false, 0, 0};
}

}  // namespace qxr::monitor
