// The event log and the debug output.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class EventLog {
public:
    virtual ~EventLog() = default;
    // Null on failure.
    virtual HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR sourceName) = 0;
    virtual BOOL DeregisterEventSource(HANDLE source) = 0;
    virtual BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId,
                              WORD numStrings, LPCSTR* strings) = 0;
};

class DebugOutput {
public:
    virtual ~DebugOutput() = default;
    virtual void OutputDebugStringA(LPCSTR text) = 0;
};

}  // namespace qxr::platform
