#include "sync_service/event_messages.h"

namespace qxr::sync {

const EventMessage kEventMessages[kEventMessageCount] = {
    {kMsgInstalled, "EVMSG_INSTALLED", "The %1 service was installed.\r\n"},
    {kMsgRemoved, "EVMSG_REMOVED", "The %1 service was removed.\r\n"},
    {kMsgNotRemoved, "EVMSG_NOTREMOVED", "The %1 service could not be removed.\r\n"},
    {kMsgCtrlHandlerNotInstalled, "EVMSG_CTRLHANDLERNOTINSTALLED",
     "The control handler could not be installed.\r\n"},
    {kMsgFailedInit, "EVMSG_FAILEDINIT", "The initialization process failed.\r\n"},
    {kMsgStarted, "EVMSG_STARTED", "The service was started.\r\n"},
    {kMsgStopped, "EVMSG_STOPPED", "The service was stopped.\r\n"},
    {kMsgNoReference, "EVMSG_NOREFERENCE", "No time reference available.\r\n"},
    {kMsgUsingReference, "EVMSG_USINGREFERENCE", "Using %1 as the time reference.\r\n"},
    {kMsgCorrectingOffset, "EVMSG_CORRECTINGOFFSET",
     "Correcting system time offset of %1 seconds.\r\n"},
    {kMsgBadRequest, "EVMSG_BADREQUEST", "The service received an unsupported request.\r\n"},
    {kMsgDebug, "EVMSG_DEBUG", "Debug: %1\r\n"},
    {kMsgDllError, "EVMSG_DLLERROR", "Dll error: %1\r\n"},
    {kMsgTrackingLogFailed, "EVMSG_TRACKINGLOGFAILED",
     "The tracking log %1 could not be written.  Error %2.\r\n"},
    {kMsgNtpServing, "EVMSG_NTPSERVING", "The NTP server is answering on UDP port %1.\r\n"},
    {kMsgNtpPortFailed, "EVMSG_NTPPORTFAILED",
     "The NTP server cannot use UDP port %1.  Error %2.\r\n"},
    {kMsgNtpAllowIgnored, "EVMSG_NTPALLOWIGNORED", "The %2 %1 %3 and is ignored.\r\n"},
    {kMsgTrackingLogBehind, "EVMSG_TRACKINGLOGBEHIND",
     "The tracking log %1 fell behind; %2 lines were dropped.\r\n"},
    {kMsgNtpReceiveFailed, "EVMSG_NTPRECEIVEFAILED",
     "The NTP server cannot receive on UDP port %1.  Winsock error %2.  The port is opened "
     "again.\r\n"},
    {kMsgBadCardDate, "EVMSG_BADCARDDATE",
     "The card reports the date %1, which cannot be true; the clock is not corrected from "
     "it.\r\n"},
};

const char* EventMessageText(DWORD id) {
    for (const EventMessage& message : kEventMessages) {
        if (message.id == id) return message.text;
    }
    return nullptr;
}

bool FormatEventMessage(DWORD id, const char* const* strings, WORD count, char* out,
                        std::size_t size) {
    const char* text = EventMessageText(id);
    if (text == nullptr) return false;
    if (size == 0) return true;
    std::size_t used = 0;
    auto put = [&](char c) {
        if (used + 1 < size) out[used++] = c;
    };
    for (const char* p = text; *p != '\0'; ++p) {
        const int index = (p[0] == '%' && p[1] >= '1' && p[1] <= '3') ? p[1] - '1' : -1;
        if (index >= 0 && index < count && strings != nullptr && strings[index] != nullptr) {
            for (const char* s = strings[index]; *s != '\0'; ++s) put(*s);
            ++p;
        } else {
            put(*p);
        }
    }
    out[used] = '\0';
    return true;
}

bool RenderEventMessage(DWORD id, const std::vector<std::string>& strings, std::string* text) {
    const char* inserts[3] = {nullptr, nullptr, nullptr};
    const std::size_t count = strings.size() < 3 ? strings.size() : 3;
    for (std::size_t i = 0; i < count; ++i) inserts[i] = strings[i].c_str();
    char buffer[512];
    if (!FormatEventMessage(id, inserts, static_cast<WORD>(count), buffer, sizeof buffer)) {
        return false;
    }
    *text = buffer;
    return true;
}

}  // namespace qxr::sync
