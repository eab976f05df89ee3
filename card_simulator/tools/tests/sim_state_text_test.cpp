#include "card_simulator/tools/sim_state_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qxr::simctl {
namespace {

QxrSimState SampleState() {
    QxrSimState s{};
    s.size = sizeof s;
    s.reference = 2;
    s.gpsFitted = 0;
    s.tickFrozen = 1;
    s.offset = -25001;
    s.failWith = 1460;
    s.noData = 1;
    s.busType = 1;
    s.ioPort = 0x340;
    s.irq = 11;
    s.requestCount = 17;
    s.setTimeCount = 2;
    std::strcpy(s.signature, "QXR card simulator, ISA port 0x340, IRQ 11");
    return s;
}

TEST(SimStateText, EveryFieldOnItsOwnLine) {
    EXPECT_EQ(FormatSimState(SampleState()),
              "signature=QXR card simulator, ISA port 0x340, IRQ 11\n"
              "bus=1\n"
              "port=0x340\n"
              "irq=11\n"
              "reference=2 (clock)\n"
              "gps=off\n"
              "offset_ms=-2.5001\n"
              "tick=freeze\n"
              "fail=1460\n"
              "nodata=on\n"
              "requests=17\n"
              "settimes=2\n");
}

TEST(SimStateText, DefaultsReadNaturally) {
    QxrSimState s = SampleState();
    s.reference = 1;
    s.gpsFitted = 1;
    s.tickFrozen = 0;
    s.offset = 15000000;
    s.failWith = 0;
    s.noData = 0;
    const std::string text = FormatSimState(s);
    EXPECT_NE(text.find("reference=1 (gps)\n"), std::string::npos);
    EXPECT_NE(text.find("gps=on\n"), std::string::npos);
    EXPECT_NE(text.find("offset_ms=1500.0000\n"), std::string::npos);
    EXPECT_NE(text.find("tick=run\n"), std::string::npos);
    EXPECT_NE(text.find("fail=off\n"), std::string::npos);
    EXPECT_NE(text.find("nodata=off\n"), std::string::npos);
}

TEST(SimStateText, UninterpretedReferenceBitsReadAsNone) {
    QxrSimState s = SampleState();
    s.reference = 5;
    EXPECT_NE(FormatSimState(s).find("reference=5 (none)\n"), std::string::npos);
}

TEST(SimStateText, ExtremeOffsetsAreExact) {
    QxrSimState s = SampleState();
    s.offset = INT64_MIN;
    EXPECT_NE(FormatSimState(s).find("offset_ms=-922337203685477.5808\n"), std::string::npos);
}

TEST(SimStateText, UnterminatedSignatureIsCutAtItsField) {
    QxrSimState s = SampleState();
    std::memset(s.signature, 'x', sizeof s.signature);
    const std::string text = FormatSimState(s);
    EXPECT_NE(text.find("signature=" + std::string(QXR_SIM_SIGNATURE_SIZE, 'x') + "\nbus=1\n"),
              std::string::npos);
}

}  // namespace
}  // namespace qxr::simctl
