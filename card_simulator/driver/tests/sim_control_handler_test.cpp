#include "card_simulator/driver/sim_control_handler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "card_access/qxr_requests.h"
#include "card_simulator/sim_control.h"

namespace qxr::simdriver {
namespace {

constexpr card::CardSettings kIsa340{card::kBusIsa, 0x340, 11};

class SimControlHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override { model_.Start(kIsa340); }

    QxrSimControl Control(uint32_t apply) {
        QxrSimControl c{};
        c.size = sizeof c;
        c.apply = apply;
        return c;
    }

    uint32_t Send(const QxrSimControl& c, QxrSimState* state = nullptr) {
        QxrSimState scratch{};
        QxrSimState* out = state != nullptr ? state : &scratch;
        returned_ = 0xDEAD;
        return HandleSimControl(model_, 42, &c, sizeof c, out, sizeof *out, &returned_);
    }

    card::CardModel model_;
    uint32_t returned_ = 0;
};

TEST_F(SimControlHandlerTest, QueryReportsTheStartedCard) {
    QxrSimState s{};
    ASSERT_EQ(HandleSimControl(model_, 42, nullptr, 0, &s, sizeof s, &returned_), 0u);
    EXPECT_EQ(returned_, sizeof(QxrSimState));
    EXPECT_EQ(s.size, sizeof(QxrSimState));
    EXPECT_EQ(s.reference, 1u);
    EXPECT_EQ(s.gpsFitted, 1u);
    EXPECT_EQ(s.tickFrozen, 0u);
    EXPECT_EQ(s.offset, 0);
    EXPECT_EQ(s.failWith, 0u);
    EXPECT_EQ(s.noData, 0u);
    EXPECT_EQ(s.busType, card::kBusIsa);
    EXPECT_EQ(s.ioPort, 0x340u);
    EXPECT_EQ(s.irq, 11u);
    EXPECT_EQ(s.requestCount, 42u);
    EXPECT_EQ(s.setTimeCount, 0u);
    EXPECT_STREQ(s.signature, model_.Signature());
    EXPECT_NE(std::string(s.signature).find("0x340"), std::string::npos);
}

TEST_F(SimControlHandlerTest, AppliesEveryField) {
    QxrSimControl c =
        Control(QXR_SIM_SET_REFERENCE | QXR_SIM_SET_GPS_FITTED | QXR_SIM_SET_OFFSET |
                QXR_SIM_SET_TICK_FROZEN | QXR_SIM_SET_FAIL_WITH | QXR_SIM_SET_NO_DATA);
    c.reference = 2;
    c.gpsFitted = 0;
    c.offset = -12345678;
    c.tickFrozen = 1;
    c.failWith = 1460;
    c.noData = 1;
    QxrSimState s{};
    ASSERT_EQ(Send(c, &s), 0u);
    EXPECT_EQ(model_.Reference(), 2u);
    EXPECT_FALSE(model_.GpsFitted());
    EXPECT_EQ(model_.Offset(), -12345678);
    EXPECT_TRUE(model_.TickFrozen());
    EXPECT_EQ(model_.FailingWith(), 1460u);
    EXPECT_TRUE(model_.ReturningNoData());
    // The reply shows the state after the change.
    EXPECT_EQ(s.reference, 2u);
    EXPECT_EQ(s.gpsFitted, 0u);
    EXPECT_EQ(s.offset, -12345678);
    EXPECT_EQ(s.tickFrozen, 1u);
    EXPECT_EQ(s.failWith, 1460u);
    EXPECT_EQ(s.noData, 1u);
}

TEST_F(SimControlHandlerTest, OnlyTheNamedFieldsChange) {
    QxrSimControl c = Control(QXR_SIM_SET_OFFSET);
    c.offset = 50000000;
    c.reference = 0;  // not named: must not be applied
    c.gpsFitted = 0;
    ASSERT_EQ(Send(c), 0u);
    EXPECT_EQ(model_.Offset(), 50000000);
    EXPECT_EQ(model_.Reference(), 1u);
    EXPECT_TRUE(model_.GpsFitted());
}

TEST_F(SimControlHandlerTest, ControlStillWorksWhileCardRequestsFail) {
    QxrSimControl c = Control(QXR_SIM_SET_FAIL_WITH);
    c.failWith = 31;
    ASSERT_EQ(Send(c), 0u);
    uint8_t reply[4] = {};
    uint32_t n = 0;
    EXPECT_EQ(model_.HandleRequest(card::ClockSample{0, 0, 0}, IOCTL_QXR_GET_HW_STATUS, nullptr, 0,
                                   reply, sizeof reply, &n),
              31u);
    c.failWith = 0;
    ASSERT_EQ(Send(c), 0u);
    EXPECT_EQ(model_.HandleRequest(card::ClockSample{0, 0, 0}, IOCTL_QXR_GET_HW_STATUS, nullptr, 0,
                                   reply, sizeof reply, &n),
              0u);
    EXPECT_EQ(n, 4u);
}

TEST_F(SimControlHandlerTest, ResetRestoresDefaultsButKeepsTheSettings) {
    QxrSimControl c = Control(QXR_SIM_SET_REFERENCE | QXR_SIM_SET_NO_DATA);
    c.reference = 0;
    c.noData = 1;
    ASSERT_EQ(Send(c), 0u);
    QxrSimControl reset = Control(QXR_SIM_RESET | QXR_SIM_SET_GPS_FITTED);
    reset.gpsFitted = 0;
    QxrSimState s{};
    ASSERT_EQ(Send(reset, &s), 0u);
    EXPECT_EQ(s.reference, 1u);
    EXPECT_EQ(s.noData, 0u);
    EXPECT_EQ(s.gpsFitted, 0u);  // applied after the reset
    EXPECT_EQ(s.ioPort, 0x340u);
    EXPECT_EQ(s.irq, 11u);
}

TEST_F(SimControlHandlerTest, MalformedRecordsChangeNothing) {
    QxrSimControl valid = Control(QXR_SIM_SET_GPS_FITTED | QXR_SIM_SET_REFERENCE);
    valid.gpsFitted = 0;
    valid.reference = 2;

    QxrSimControl badReference = valid;
    badReference.reference = 8;
    QxrSimControl badFlag = valid;
    badFlag.gpsFitted = 2;
    QxrSimControl badSize = valid;
    badSize.size = sizeof(QxrSimControl) - 4;
    QxrSimControl unknownBit = valid;
    unknownBit.apply |= 0x40u;
    QxrSimControl reserved = valid;
    reserved.reserved = 1;
    QxrSimControl hugeOffset = Control(QXR_SIM_SET_OFFSET | QXR_SIM_SET_GPS_FITTED);
    hugeOffset.offset = QXR_SIM_MAX_OFFSET + 1;
    QxrSimControl hugeNegative = hugeOffset;
    hugeNegative.offset = -QXR_SIM_MAX_OFFSET - 1;
    QxrSimControl badTick = Control(QXR_SIM_SET_TICK_FROZEN);
    badTick.tickFrozen = 7;
    QxrSimControl badNoData = Control(QXR_SIM_SET_NO_DATA);
    badNoData.noData = 3;

    for (const QxrSimControl& c : {badReference, badFlag, badSize, unknownBit, reserved, hugeOffset,
                                   hugeNegative, badTick, badNoData}) {
        EXPECT_EQ(Send(c), card::kErrorInvalidParameter);
        EXPECT_EQ(returned_, 0u);
        EXPECT_EQ(model_.Reference(), 1u);
        EXPECT_TRUE(model_.GpsFitted());
        EXPECT_EQ(model_.Offset(), 0);
        EXPECT_FALSE(model_.TickFrozen());
        EXPECT_FALSE(model_.ReturningNoData());
    }
    QxrSimControl limit = Control(QXR_SIM_SET_OFFSET);
    limit.offset = -QXR_SIM_MAX_OFFSET;
    EXPECT_EQ(Send(limit), 0u);
}

TEST_F(SimControlHandlerTest, WrongInputLengthIsRefused) {
    QxrSimControl c = Control(QXR_SIM_SET_GPS_FITTED);
    QxrSimState s{};
    EXPECT_EQ(HandleSimControl(model_, 0, &c, sizeof c - 1, &s, sizeof s, &returned_),
              card::kErrorInvalidParameter);
    EXPECT_EQ(HandleSimControl(model_, 0, &c, sizeof c + 1, &s, sizeof s, &returned_),
              card::kErrorInvalidParameter);
    EXPECT_EQ(HandleSimControl(model_, 0, nullptr, sizeof c, &s, sizeof s, &returned_),
              card::kErrorInvalidParameter);
    EXPECT_TRUE(model_.GpsFitted());
}

TEST_F(SimControlHandlerTest, ShortReplyBufferIsRefusedBeforeApplying) {
    QxrSimControl c = Control(QXR_SIM_SET_GPS_FITTED);
    c.gpsFitted = 0;
    uint8_t small[sizeof(QxrSimState) - 1] = {};
    EXPECT_EQ(HandleSimControl(model_, 0, &c, sizeof c, small, sizeof small, &returned_),
              card::kErrorInsufficientBuffer);
    EXPECT_EQ(returned_, 0u);
    EXPECT_TRUE(model_.GpsFitted());
}

TEST_F(SimControlHandlerTest, NoReplyBufferAppliesAndReturnsNothing) {
    QxrSimControl c = Control(QXR_SIM_SET_GPS_FITTED);
    c.gpsFitted = 0;
    EXPECT_EQ(HandleSimControl(model_, 0, &c, sizeof c, nullptr, 0, &returned_), 0u);
    EXPECT_EQ(returned_, 0u);
    EXPECT_FALSE(model_.GpsFitted());
}

TEST_F(SimControlHandlerTest, RequestAndReplyMayShareOneBuffer) {
    union {
        QxrSimControl control;
        QxrSimState state;
    } buffer{};
    buffer.control = Control(QXR_SIM_SET_OFFSET | QXR_SIM_SET_REFERENCE);
    buffer.control.offset = 777;
    buffer.control.reference = 0;
    ASSERT_EQ(HandleSimControl(model_, 5, &buffer, sizeof buffer.control, &buffer,
                               sizeof buffer.state, &returned_),
              0u);
    EXPECT_EQ(returned_, sizeof(QxrSimState));
    EXPECT_EQ(buffer.state.offset, 777);
    EXPECT_EQ(buffer.state.reference, 0u);
    EXPECT_EQ(buffer.state.requestCount, 5u);
    EXPECT_EQ(model_.Offset(), 777);
}

}  // namespace
}  // namespace qxr::simdriver
