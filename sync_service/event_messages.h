// The service's event message table: its ids and their texts. The message
// compiler source (qxrsync_messages.mc) carries the same texts; a test holds the two together.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/ports/win_defs.h"

namespace qxr::sync {

enum EventId : DWORD {
    kMsgInstalled = 100,
    kMsgRemoved = 101,
    kMsgNotRemoved = 102,
    kMsgCtrlHandlerNotInstalled = 103,
    kMsgFailedInit = 104,
    kMsgStarted = 105,
    kMsgStopped = 106,
    kMsgNoReference = 107,
    kMsgUsingReference = 108,
    kMsgCorrectingOffset = 109,
    kMsgBadRequest = 110,
    kMsgDebug = 111,
    kMsgDllError = 112,
    kMsgTrackingLogFailed = 113,  // the opt-in tracking log could not be written
    kMsgNtpServing = 114,         // the opt-in NTP server answers on its port
    kMsgNtpPortFailed = 115,      // ... cannot use it; the service goes on without it
    kMsgNtpAllowIgnored = 116,    // an NtpAllow entry or an Ntp* value that is ignored
    kMsgTrackingLogBehind = 117,  // its writer fell behind and dropped lines
    kMsgNtpReceiveFailed = 118,   // the NTP server's sockets keep failing; it reopens them
    kMsgBadCardDate = 119,        // a card date that cannot be true: not corrected from
};

struct EventMessage {
    DWORD id;
    const char* symbol;  // the SymbolicName in the .mc
    const char* text;    // with "%1" for the first insertion string, ending in "\r\n"
};

inline constexpr DWORD kFirstEventId = 100;
inline constexpr DWORD kLastEventId = 119;
// In rising order of id; an id may be missing.
inline constexpr std::size_t kEventMessageCount = 20;

extern const EventMessage kEventMessages[kEventMessageCount];

// The text of a message id, or null when the table has none.
const char* EventMessageText(DWORD id);

// Renders a message as the event viewer would: %1..%3 replaced by the insertion strings
// (missing ones left as written). Cut to fit `size`; always terminated when size > 0.
// Returns false for an unknown id.
bool FormatEventMessage(DWORD id, const char* const* strings, WORD count, char* out,
                        std::size_t size);

// The same for a logged event (at most three insertion strings are used), in the shape a
// simulated event log renders its entries with.
bool RenderEventMessage(DWORD id, const std::vector<std::string>& strings, std::string* text);

}  // namespace qxr::sync
