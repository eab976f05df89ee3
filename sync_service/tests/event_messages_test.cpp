// The event message table: every text as written here, both in the table the code renders
// and in the program's .mc, and rendering fills the insertion strings without overrunning
// its buffer.
#include "sync_service/event_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace qxr::sync {
namespace {

// MessageId -> (SymbolicName, text with "\r\n" per line) as the message compiler reads them.
std::map<DWORD, std::pair<std::string, std::string>> ParseMc(const std::string& path) {
    std::ifstream in(path);
    std::map<DWORD, std::pair<std::string, std::string>> out;
    std::string line;
    DWORD id = 0;
    std::string symbol;
    bool inText = false;
    std::string text;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (inText) {
            if (line == ".") {
                out[id] = {symbol, text};
                inText = false;
            } else {
                text += line + "\r\n";
            }
        } else if (line.rfind("MessageId=", 0) == 0) {
            id = static_cast<DWORD>(std::stoul(line.substr(10)));
        } else if (line.rfind("SymbolicName=", 0) == 0) {
            symbol = line.substr(13);
        } else if (line.rfind("Language=", 0) == 0) {
            inText = true;
            text.clear();
        }
    }
    return out;
}

// Every message as the event viewer shows it, written out here, so that a wrong entry fails
// even when the table and the .mc carry the same mistake.
const EventMessage kWritten[] = {
    {100, "EVMSG_INSTALLED", "The %1 service was installed.\r\n"},
    {101, "EVMSG_REMOVED", "The %1 service was removed.\r\n"},
    {102, "EVMSG_NOTREMOVED", "The %1 service could not be removed.\r\n"},
    {103, "EVMSG_CTRLHANDLERNOTINSTALLED", "The control handler could not be installed.\r\n"},
    {104, "EVMSG_FAILEDINIT", "The initialization process failed.\r\n"},
    {105, "EVMSG_STARTED", "The service was started.\r\n"},
    {106, "EVMSG_STOPPED", "The service was stopped.\r\n"},
    {107, "EVMSG_NOREFERENCE", "No time reference available.\r\n"},
    {108, "EVMSG_USINGREFERENCE", "Using %1 as the time reference.\r\n"},
    {109, "EVMSG_CORRECTINGOFFSET", "Correcting system time offset of %1 seconds.\r\n"},
    {110, "EVMSG_BADREQUEST", "The service received an unsupported request.\r\n"},
    {111, "EVMSG_DEBUG", "Debug: %1\r\n"},
    {112, "EVMSG_DLLERROR", "Dll error: %1\r\n"},
    {113, "EVMSG_TRACKINGLOGFAILED", "The tracking log %1 could not be written.  Error %2.\r\n"},
    {114, "EVMSG_NTPSERVING", "The NTP server is answering on UDP port %1.\r\n"},
    {115, "EVMSG_NTPPORTFAILED", "The NTP server cannot use UDP port %1.  Error %2.\r\n"},
    {116, "EVMSG_NTPALLOWIGNORED", "The %2 %1 %3 and is ignored.\r\n"},
    {117, "EVMSG_TRACKINGLOGBEHIND", "The tracking log %1 fell behind; %2 lines were dropped.\r\n"},
    {118, "EVMSG_NTPRECEIVEFAILED",
     "The NTP server cannot receive on UDP port %1.  Winsock error %2.  The port is opened "
     "again.\r\n"},
    {119, "EVMSG_BADCARDDATE",
     "The card reports the date %1, which cannot be true; the clock is not corrected from it.\r\n"},
};

TEST(EventMessagesTest, MessageCompilerSourceMatchesTheTable) {
    const auto mc = ParseMc(QXRSYNC_MC_PATH);
    ASSERT_EQ(mc.size(), std::size(kWritten));
    ASSERT_EQ(kEventMessageCount, std::size(kWritten));
    for (std::size_t i = 0; i < std::size(kWritten); ++i) {
        const EventMessage& written = kWritten[i];
        SCOPED_TRACE(written.id);
        EXPECT_EQ(kEventMessages[i].id, written.id);
        EXPECT_STREQ(kEventMessages[i].symbol, written.symbol);
        EXPECT_STREQ(EventMessageText(written.id), written.text);
        const auto it = mc.find(written.id);
        ASSERT_NE(it, mc.end());
        EXPECT_EQ(it->second.first, written.symbol);
        EXPECT_EQ(it->second.second, written.text);
    }
}

TEST(EventMessagesTest, TableHoldsTheIdsInOrder) {
    EXPECT_EQ(kEventMessages[0].id, kFirstEventId);
    EXPECT_EQ(kEventMessages[kEventMessageCount - 1].id, kLastEventId);
    for (std::size_t i = 0; i < kEventMessageCount; ++i) {
        if (i > 0) {
            EXPECT_LT(kEventMessages[i - 1].id, kEventMessages[i].id);
        }
        EXPECT_STREQ(EventMessageText(kEventMessages[i].id), kEventMessages[i].text);
        const std::string text = kEventMessages[i].text;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    }
    EXPECT_EQ(EventMessageText(99), nullptr);
    EXPECT_EQ(EventMessageText(kLastEventId + 1), nullptr);
    EXPECT_STREQ(EventMessageText(109), "Correcting system time offset of %1 seconds.\r\n");
}

TEST(EventMessagesTest, Rendering) {
    char out[64];
    const char* strings[] = {"GPS"};
    ASSERT_TRUE(FormatEventMessage(108, strings, 1, out, sizeof out));
    EXPECT_STREQ(out, "Using GPS as the time reference.\r\n");
    // A missing insertion string leaves the placeholder.
    ASSERT_TRUE(FormatEventMessage(112, nullptr, 0, out, sizeof out));
    EXPECT_STREQ(out, "Dll error: %1\r\n");
    EXPECT_FALSE(FormatEventMessage(200, strings, 1, out, sizeof out));

    char small[8];
    std::memset(small, 'z', sizeof small);
    ASSERT_TRUE(FormatEventMessage(108, strings, 1, small, 6));
    EXPECT_STREQ(small, "Using");
    EXPECT_EQ(small[6], 'z');
}

}  // namespace
}  // namespace qxr::sync
