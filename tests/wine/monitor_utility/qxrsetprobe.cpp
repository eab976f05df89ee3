// qxrsetprobe: reads QxrSet's dialog from outside its process, for the Wine tests. Commands,
// run in order, one output line each:
//   find                 "dialog caption=<caption>" (exit 1 when no window's caption begins
//                        with "QXRSET")
//   controls             per control: "control id=N enabled=0|1 visible=0|1 readonly=0|1
//                        checked=0|1 x=.. y=.. w=.. h=.. text=<text>" (screen rectangle)
//   heartbeat            "heartbeat=N": the heartbeat icon that can be seen
//   window CAPTION       "window found=0|1" for a top-level window with exactly that caption
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kControls[] = {1000, 1001, 1012, 1004, 1002, 1003,
                             1005, 1006, 1011, 1008, 1009, 1010};

HWND g_dialog = nullptr;

BOOL CALLBACK FindDialog(HWND window, LPARAM) {
    char caption[256] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strncmp(caption, "QXRSET", 6) == 0) {
        g_dialog = window;
        return FALSE;
    }
    return TRUE;
}

void Text(HWND window, char* text, int size) {
    DWORD_PTR length = 0;
    text[0] = '\0';
    SendMessageTimeoutA(window, WM_GETTEXT, static_cast<WPARAM>(size),
                        reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &length);
}

void Controls() {
    for (int id : kControls) {
        HWND control = GetDlgItem(g_dialog, id);
        if (control == nullptr) {
            std::printf("control id=%d missing\n", id);
            continue;
        }
        char text[256];
        Text(control, text, sizeof text);
        RECT r{};
        GetWindowRect(control, &r);
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        DWORD_PTR checked = 0;
        SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
        std::printf(
            "control id=%d enabled=%d visible=%d readonly=%d checked=%d x=%ld y=%ld w=%ld "
            "h=%ld text=%s\n",
            id, IsWindowEnabled(control) ? 1 : 0, IsWindowVisible(control) ? 1 : 0,
            (id != 1001 && id != 1012 && id != 1004 && (style & ES_READONLY)) ? 1 : 0,
            (id == 1004 && checked == BST_CHECKED) ? 1 : 0, r.left, r.top, r.right - r.left,
            r.bottom - r.top, text);
    }
}

void Heartbeat() {
    // Children in z-order, top first: the first heartbeat icon with a size is the one seen.
    for (HWND child = GetWindow(g_dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        RECT r{};
        GetWindowRect(child, &r);
        if (id >= 1008 && id <= 1010 && r.right > r.left) {
            std::printf("heartbeat=%d\n", id);
            return;
        }
    }
    std::printf("heartbeat=none\n");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "window") == 0 && i + 1 < argc) {
            const HWND window = FindWindowA(nullptr, argv[++i]);
            std::printf("window found=%d\n", window != nullptr && IsWindowVisible(window) ? 1 : 0);
            continue;
        }
        g_dialog = nullptr;
        EnumWindows(&FindDialog, 0);
        if (g_dialog == nullptr) {
            std::printf("dialog=none\n");
            return 1;
        }
        if (std::strcmp(argv[i], "find") == 0) {
            char caption[256] = {};
            GetWindowTextA(g_dialog, caption, sizeof caption);
            std::printf("dialog caption=%s\n", caption);
        } else if (std::strcmp(argv[i], "controls") == 0) {
            Controls();
        } else if (std::strcmp(argv[i], "heartbeat") == 0) {
            Heartbeat();
        } else {
            std::printf("unknown command %s\n", argv[i]);
            return 2;
        }
    }
    std::fflush(stdout);
    return 0;
}
