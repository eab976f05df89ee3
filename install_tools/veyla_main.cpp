// Veyla.exe: opens the product's text file in the system text editor and ends at once.
// Arguments are ignored. The empty working directory makes the editor start in this
// program's current directory, where the relative name is looked up; a missing file is the
// editor's to report, and a failed start ends silently like a successful one.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

int main() {
    ::ShellExecuteA(nullptr, "open", "notepad.exe", "veyla.txt", "", SW_SHOWNORMAL);
    return 0;
}
