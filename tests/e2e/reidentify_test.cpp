// Identifying an active amplifier again.
#include "core/command_exchange.h"
#include "core/port_table.h"
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <vector>

namespace nxtka {
namespace {

using sim::AmplifierModel;
using test::LineKind;
using test::roundTrip;
using test::SimPort;
using test::requestValues;
using test::since;


double readOne(unsigned port) {
    double v = -99.0;
    EXPECT_EQ(TKAread(port, &v), 1);
    return v;
}

sim::Config onRequest(int level = 3) {
    sim::Config c;
    c.level = level;
    c.stream.rate = 0;
    return c;
}

class Reidentify : public ::testing::TestWithParam<LineKind> {};

TEST_P(Reidentify, RepeatsTheIdentificationAndForgetsEarlierValues) {
    SimPort sp(401, GetParam(), onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 3);
    sp.model().clearRecord();
    EXPECT_EQ(TKAinitialize(401), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 64, 54, 43, 28, 26}));
    EXPECT_EQ(sp.model().commands()[0].params, std::vector<std::uint8_t>{3});
    EXPECT_EQ(TKAreceived(401), 0);
    EXPECT_EQ(TKAmodel(401), 3);

    // The port works on as before.
    requestValues(sp, 1);
    EXPECT_EQ(TKAreceived(401), 1);
    EXPECT_EQ(TKAflushBuffer(401), 1);
    EXPECT_EQ(TKAinitialize(401), 0);
}

// What the amplifier says now replaces what activation cached: the protocol
// level, the polarity used to convert values and the display norm.
TEST_P(Reidentify, RefreshesTheCachedIdentification) {
    sim::Config c = onRequest();
    c.stream.kind = sim::FrameKind::Binary24;
    c.stream.level = 0.5;
    SimPort sp(402, GetParam(), c);
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 1);
    const std::uint32_t bipolarRaw = AmplifierModel::rawCode24(0.5, true);
    EXPECT_EQ(readOne(402), static_cast<double>(static_cast<std::int32_t>(bipolarRaw) - 8388608) * 1.2516975402832032e-7);

    sp.model().setReg(cmd::kGetControl, 0x001028);  // unipolar now
    sp.model().setLevel(1);
    sp.model().clearRecord();
    ASSERT_EQ(TKAinitialize(402), 0);
    EXPECT_EQ(TKAmodel(402), 1);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 54, 43, 28, 26}));  // no lock below level 2
    requestValues(sp, 1);
    EXPECT_EQ(readOne(402), static_cast<double>(AmplifierModel::rawCode24(0.5, false)) * 6.258487701416016e-8);

    // Text values follow the new norm: 10^(2-1) x 2625010 / 5250020 = 5.
    sp.model().setReg(cmd::kDispGetDPoint, 2);
    sp.model().setReg(cmd::kDispGetNorm, 2625010);
    ASSERT_EQ(TKAinitialize(402), 0);
    sp.model().injectGarbage({'+', ' ', ' ', '2', '.', '5', '0', '0', '\r', '\n'});
    ASSERT_TRUE(roundTrip(402));
    EXPECT_EQ(readOne(402), 0.5);
}

INSTANTIATE_TEST_SUITE_P(Lines, Reidentify, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

TEST(ReidentifyVirtual, ValuesDuringTheIdentificationAreKept) {
    SimPort sp(403, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 2);
    // The amplifier sends a value just before it answers 28.
    sp.model().setHandler(cmd::kDispGetDPoint, [&sp](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> {
        sp.model().emitValue();
        return 1;
    });
    ASSERT_EQ(TKAinitialize(403), 0);
    double values[4];
    std::int32_t n = 0;
    ASSERT_EQ(TKAreadMultiple(403, values, 4, &n), 1);
    EXPECT_EQ(n, 1);  // the two from before are gone, the new one is there
}

TEST(ReidentifyVirtual, LevelZeroAsksOnlyForTheDisplay) {
    SimPort sp(404, LineKind::Virtual, onRequest(0));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().clearRecord();
    EXPECT_EQ(TKAinitialize(404), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 28, 26}));
    EXPECT_EQ(TKAmodel(404), 0);
}

TEST(ReidentifyVirtual, MissingFirmwareAnswerFailsAlthoughActivationAcceptsIt) {
    sim::Config c = onRequest();
    c.stream.rate = 0;
    SimPort sp(405, LineKind::Virtual, c);
    sim::Faults f;
    f.silence(cmd::kGetFirmware);
    sp.model().setFaults(f);
    ASSERT_EQ(sp.activate(), 0);
    sp.model().clearRecord();
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAinitialize(405), -1);
    EXPECT_GE(since(t0), 1000u);  // the firmware answer was waited for
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 64, 54, 43}));
    // The port stays active and usable.
    EXPECT_EQ(TKAmodel(405), 3);
    EXPECT_EQ(TKAflushBuffer(405), 0);
    sp.model().setFaults({});
    EXPECT_EQ(TKAinitialize(405), 0);
}

TEST(ReidentifyVirtual, UnansweredProbeLeavesThePortActiveWithoutLevel) {
    SimPort sp(406, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    sim::Faults f;
    f.silence(cmd::kIdentify);
    sp.model().setFaults(f);
    sp.model().clearRecord();
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAinitialize(406), -1);
    const std::uint32_t took = since(t0);
    EXPECT_GE(took, 5000u);
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(sp.codes(), std::vector<int>{42});  // once, no second probe
    EXPECT_EQ(TKAmodel(406), -1);  // the level is unknown now...
    EXPECT_EQ(TKAflushBuffer(406), 0);  // ...but the port is still active
    sp.model().setFaults({});
    EXPECT_EQ(TKAinitialize(406), 0);
    EXPECT_EQ(TKAmodel(406), 3);
}

TEST(ReidentifyVirtual, InactivePortsFailAtOnce) {
    SimPort sp(407, LineKind::Virtual, onRequest());
    EXPECT_EQ(TKAinitialize(407), -1);
    EXPECT_EQ(TKAinitialize(1024), -1);
    EXPECT_EQ(TKAinitialize(0xFFFFFFFFu), -1);
    ASSERT_EQ(sp.activate(), 0);
    TKArelease(407);
    sp.model().clearRecord();
    EXPECT_EQ(TKAinitialize(407), -1);
    EXPECT_TRUE(sp.codes().empty());
}

}  // namespace
}  // namespace nxtka
