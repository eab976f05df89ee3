// qxrwinprobe: looks at and works the windows of another program under test, so that a Wine
// test can assert on what appeared (captions, control texts, list entries and selections,
// enabled states) and act as a user would (choose a list entry, click a button, close).
// It runs the commands of its command line in order, one output line per finding; the exit
// code is 1 as soon as a wait runs out or a control is missing.
//
//   wait TITLE SECONDS        waits for a visible top-level window with exactly this caption
//   waitpart TEXT SECONDS     ... whose caption contains TEXT
//   dump                      "control id=N class=C enabled=0|1 text=T" per child control;
//                             for a combo box also "items=a|b|c sel=N"
//   choose ID INDEX           selects an entry of a drop-down list and notifies the dialog
//                             as a confirmed choice (CBN_SELENDOK)
//   settext ID TEXT           types TEXT into an edit control (as WM_SETTEXT), or into the
//                             edit inside a combo box
//   click ID                  clicks a button (ignored by a disabled one, as for a user);
//                             ID may also be a control of a page inside the window
//   close                     WM_CLOSE to the window (its close box)
//   gone SECONDS              waits until the window has gone
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Search {
    const char* text;
    bool whole;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (!IsWindowVisible(window)) return TRUE;
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    const bool match = search->whole ? std::strcmp(caption, search->text) == 0
                                     : std::strstr(caption, search->text) != nullptr;
    if (!match) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForWindow(const char* text, bool whole, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        Search search{text, whole, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        Sleep(100);
    }
    return nullptr;
}

// Line ends and backslashes escaped, so that one control is one output line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

void DumpCombo(HWND combo) {
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    std::string items;
    for (LRESULT i = 0; i < count; ++i) {
        // Wide: across processes the text arrives as the list stored it.
        wchar_t wide[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
        char item[512] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, nullptr, nullptr);
        if (i > 0) items += '|';
        items += item;
    }
    std::printf(" items=%s sel=%d", items.c_str(),
                static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0)));
}

BOOL CALLBACK DumpControl(HWND control, LPARAM) {
    char className[64] = {};
    GetClassNameA(control, className, sizeof className);
    std::printf("control id=%d class=%s enabled=%d", GetDlgCtrlID(control), className,
                IsWindowEnabled(control) ? 1 : 0);
    if (_stricmp(className, "ComboBox") == 0) {
        DumpCombo(control);
    } else {
        std::printf(" text=%s", Escaped(TextOf(control)).c_str());
    }
    std::printf("\n");
    return TRUE;
}

struct IdSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchId(HWND control, LPARAM parameter) {
    auto* search = reinterpret_cast<IdSearch*>(parameter);
    if (GetDlgCtrlID(control) != search->id) return TRUE;
    search->found = control;
    return FALSE;
}

// A control of the window itself, else one of a page inside it (a wizard's inner dialog).
HWND Control(HWND window, const char* id) {
    HWND control = GetDlgItem(window, std::atoi(id));
    if (control == nullptr) {
        IdSearch search{std::atoi(id), nullptr};
        EnumChildWindows(window, MatchId, reinterpret_cast<LPARAM>(&search));
        control = search.found;
    }
    if (control == nullptr) std::printf("no control %s\n", id);
    return control;
}

}  // namespace

int main(int argc, char** argv) {
    HWND window = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        const bool wait = command == "wait" || command == "waitpart";
        if (wait && i + 2 < argc) {
            window = WaitForWindow(argv[i + 1], command == "wait", std::atoi(argv[i + 2]));
            if (window == nullptr) {
                std::printf("no window '%s'\n", argv[i + 1]);
                return 1;
            }
            char caption[512] = {};
            GetWindowTextA(window, caption, sizeof caption);
            std::printf("window caption=%s\n", caption);
            i += 2;
        } else if (command == "dump" && window != nullptr) {
            EnumChildWindows(window, DumpControl, 0);
        } else if (command == "choose" && window != nullptr && i + 2 < argc) {
            HWND combo = Control(window, argv[i + 1]);
            if (combo == nullptr) return 1;
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[i + 2])), 0);
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELENDOK),
                         reinterpret_cast<LPARAM>(combo));
            std::printf("chose %s %s\n", argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (command == "settext" && window != nullptr && i + 2 < argc) {
            HWND edit = Control(window, argv[i + 1]);
            if (edit == nullptr) return 1;
            // A combo box with an edit field (a file dialog's name box) has it inside.
            HWND inner = FindWindowExA(edit, nullptr, "Edit", nullptr);
            for (HWND box = edit; inner == nullptr && box != nullptr;) {
                box = FindWindowExA(box, nullptr, "ComboBox", nullptr);
                if (box != nullptr) inner = FindWindowExA(box, nullptr, "Edit", nullptr);
            }
            if (inner != nullptr) edit = inner;
            DWORD_PTR done = 0;
            SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[i + 2]),
                                SMTO_ABORTIFHUNG, 5000, &done);
            std::printf("set %s text=%s\n", argv[i + 1], Escaped(TextOf(edit)).c_str());
            i += 2;
        } else if (command == "click" && window != nullptr && i + 1 < argc) {
            // A button of that id first: a file dialog's toolbar has the id of its OK button.
            HWND button = nullptr;
            while ((button = FindWindowExA(window, button, "Button", nullptr)) != nullptr) {
                if (GetDlgCtrlID(button) == std::atoi(argv[i + 1])) break;
            }
            if (button == nullptr) button = Control(window, argv[i + 1]);
            if (button == nullptr) return 1;
            PostMessageA(button, BM_CLICK, 0, 0);
            std::printf("clicked %s\n", argv[i + 1]);
            i += 1;
        } else if (command == "close" && window != nullptr) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            std::printf("closed\n");
        } else if (command == "gone" && window != nullptr && i + 1 < argc) {
            const int seconds = std::atoi(argv[i + 1]);
            int n = 0;
            while (IsWindow(window) && IsWindowVisible(window) && n < seconds * 10) {
                Sleep(100);
                ++n;
            }
            if (IsWindow(window) && IsWindowVisible(window)) {
                std::printf("window still there\n");
                return 1;
            }
            std::printf("gone\n");
            i += 1;
        } else {
            std::printf("bad command '%s'\n", command.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
