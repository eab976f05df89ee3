// uninstall.exe, beside the uninstaller proper (qxr-uninstall.exe, an NSIS uninstaller): runs a
// temporary copy of it on this folder and waits for it, so that "uninstall.exe /S" returns
// when the work is done, with its exit code. An NSIS uninstaller started directly copies itself
// to %TEMP%, starts the copy and returns 0 at once; one that waits keeps its own file open and
// could not be removed. This program keeps no file open: the uninstaller moves it away while
// it waits (a running program's file can be moved, not deleted).
// Exit code: the uninstaller's; 2 when it cannot be started (as NSIS for a damaged file).
#include <windows.h>

namespace {

const int kCannotStart = 2;

// The arguments of this program: its command line after the program's name.
const char* Arguments(const char* line) {
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"') {
            ++line;
        }
        if (*line == '"') {
            ++line;
        }
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t') {
            ++line;
        }
    }
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    return line;
}

// Appends text to out (capacity bytes); false when it does not fit.
bool Append(char* out, size_t capacity, const char* text) {
    size_t used = lstrlenA(out);
    size_t add = lstrlenA(text);
    if (used + add + 1 > capacity) {
        return false;
    }
    lstrcpyA(out + used, text);
    return true;
}

int Run() {
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return kCannotStart;
    }
    char* slash = nullptr;
    for (char* p = folder; *p != '\0'; ++p) {
        if (*p == '\\') {
            slash = p;
        }
    }
    if (slash == nullptr) {
        return kCannotStart;
    }
    *slash = '\0';

    char source[MAX_PATH] = "";
    char temp[MAX_PATH] = "";
    char copy[MAX_PATH] = "";
    char number[16];
    wsprintfA(number, "%lu", GetCurrentProcessId());
    DWORD temp_length = GetTempPathA(MAX_PATH, temp);
    if (temp_length == 0 || temp_length >= MAX_PATH || !Append(source, MAX_PATH, folder) ||
        !Append(source, MAX_PATH, "\\qxr-uninstall.exe") || !Append(copy, MAX_PATH, temp) ||
        !Append(copy, MAX_PATH, "qxr-uninstall-") || !Append(copy, MAX_PATH, number) ||
        !Append(copy, MAX_PATH, ".exe")) {
        return kCannotStart;
    }
    if (!CopyFileA(source, copy, FALSE)) {
        return kCannotStart;
    }

    // "copy" arguments _?=folder (NSIS takes the folder from the last argument, unquoted).
    char command[4 * MAX_PATH] = "\"";
    const char* arguments = Arguments(GetCommandLineA());
    if (!Append(command, sizeof command, copy) || !Append(command, sizeof command, "\" ") ||
        !Append(command, sizeof command, arguments) || !Append(command, sizeof command, " _?=") ||
        !Append(command, sizeof command, folder)) {
        DeleteFileA(copy);
        return kCannotStart;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(copy, command, nullptr, nullptr, FALSE, 0, nullptr, temp, &startup,
                        &process)) {
        DeleteFileA(copy);
        return kCannotStart;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = kCannotStart;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    DeleteFileA(copy);
    return static_cast<int>(code);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return Run();
}
