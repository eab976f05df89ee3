// The event log and the debug output of the real Windows API.
#pragma once

#include "platform/ports/event_log.h"

namespace qxr::win32 {

class Win32EventLog : public platform::EventLog {
  public:
    HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR sourceName) override {
        return ::RegisterEventSourceA(server, sourceName);
    }
    BOOL DeregisterEventSource(HANDLE source) override { return ::DeregisterEventSource(source); }
    BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, WORD numStrings,
                      LPCSTR* strings) override {
        return ::ReportEventA(source, type, category, eventId, nullptr, numStrings, 0, strings,
                              nullptr);
    }
};

class Win32DebugOutput : public platform::DebugOutput {
  public:
    void OutputDebugStringA(LPCSTR text) override { ::OutputDebugStringA(text); }
};

}  // namespace qxr::win32
