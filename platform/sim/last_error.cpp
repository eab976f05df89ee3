// GetLastError/SetLastError for the native build: one value per thread, as on Windows.
#include "platform/ports/win_defs.h"

namespace {
thread_local DWORD g_lastError = 0;
}

DWORD GetLastError() { return g_lastError; }
void SetLastError(DWORD error) { g_lastError = error; }
