// The event message table: the texts the program carries in its .mc are the ones the code
// renders, and rendering fills the insertion strings without overrunning its buffer.
#include "sync_service/event_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
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

TEST(EventMessagesTest, MessageCompilerSourceMatchesTheTable) {
    const auto mc = ParseMc(QXRSYNC_MC_PATH);
    ASSERT_EQ(mc.size(), kEventMessageCount);
    for (const EventMessage& message : kEventMessages) {
        const auto it = mc.find(message.id);
        ASSERT_NE(it, mc.end()) << message.id;
        EXPECT_EQ(it->second.first, message.symbol);
        EXPECT_EQ(it->second.second, message.text);
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
