// Adjustment procedures, thresholds, input range and display norm: the cases
// where the value stream, the session's polarity and display norm, the
// amplifier's level or its range table matter.
#include "support/family_tests.h"

#include <limits>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::Bytes;
using test::sessionOf;
using test::wireExpecting;

sim::Config onRequest(int level = 3) {
    sim::Config c;
    c.level = level;
    c.stream.rate = 0;  // values only on request
    return c;
}


using test::call;

// Reads every waiting value; how many there were.
int takeAll(unsigned port) {
    double values[64];
    std::int32_t delivered = 0;
    return TKAreadMultiple(port, values, 64, &delivered) >= 0 ? delivered : -1;
}

class AdjustmentRangeDisplayEdges : public ::testing::TestWithParam<LineKind> {};

TEST_P(AdjustmentRangeDisplayEdges, ProcedureDropsEarlierValuesAndStoresLaterOnes) {
    SimPort sp(410, GetParam(), onRequest());
    ASSERT_EQ(sp.activate(), 0);
    PortSession& s = sessionOf(410);
    test::requestValues(sp, 3);
    ASSERT_EQ(TKAreceived(410), 1);
    sp.model().clearRecord();
    EXPECT_EQ(TKAsetZero(410), 1);
    EXPECT_EQ(sp.codes(), (std::vector<int>{12, 4, 59}));
    ASSERT_TRUE(test::roundTrip(410));  // whatever the procedure's end sent has arrived
    EXPECT_LE(takeAll(410), 1);  // the three from before are gone (the frame that ended it may be stored)
    EXPECT_EQ(s.holdValues.load(), 0u);
    test::requestValues(sp, 2);
    EXPECT_EQ(takeAll(410), 2);

    sp.model().setAdjustment({100, sim::AdjustmentEnd::Semicolon, true});
    test::requestValues(sp, 2);
    EXPECT_EQ(TKAsetCal(410), 1);
    EXPECT_EQ(TKAreceived(410), 0);
    EXPECT_EQ(s.holdValues.load(), 0u);
}

TEST_P(AdjustmentRangeDisplayEdges, DisplayNormRescalesTextValues) {
    sim::Config c = onRequest();
    c.stream.kind = sim::FrameKind::Text;
    c.stream.level = 0.25;
    SimPort sp(411, GetParam(), c);
    ASSERT_EQ(sp.activate(), 0);
    PortSession& s = sessionOf(411);
    double v = 0;
    test::requestValues(sp, 1);
    ASSERT_EQ(TKAread(411, &v), 1);
    EXPECT_NEAR(v, 0.25, 1e-6);
    // 2000 = 0.2 x 10^4: exponent 5, r = 1050004; the amplifier now sends 500.0000
    ASSERT_EQ(TKADispSetNorm(411, 2000.0), 0);
    EXPECT_EQ(s.displayDecimalPoint.load(), 5);
    EXPECT_EQ(s.displayNormRaw.load(), 1050004u);
    EXPECT_DOUBLE_EQ(s.displayNorm.load(), 2000.0);
    test::requestValues(sp, 1);
    ASSERT_EQ(TKAread(411, &v), 1);
    EXPECT_NEAR(v, 0.25, 1e-6);
    // The decimal point alone: 10^(3 - 1) x 1050004 / 5250020 = 20
    ASSERT_EQ(TKADispSetDPoint(411, 3), 0);
    EXPECT_DOUBLE_EQ(s.displayNorm.load(), 20.0);
    EXPECT_EQ(TKADispGetDPoint(411), 3);
    test::requestValues(sp, 1);
    ASSERT_EQ(TKAread(411, &v), 1);
    EXPECT_NEAR(v, 0.25, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Lines, AdjustmentRangeDisplayEdges, ::testing::Values(LineKind::Virtual, LineKind::Pty),
                         test::lineName);

TEST(AdjustmentRangeDisplayProcedures, LevelZeroAmplifierComesBackBySelf) {
    SimPort sp(412, LineKind::Virtual, onRequest(0));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().clearRecord();
    EXPECT_EQ(TKAsetOffset(412), 1);
    EXPECT_EQ(sp.codes(), (std::vector<int>{14, 4}));  // no request for a value
    EXPECT_EQ(sessionOf(412).holdValues.load(), 0u);
}

TEST(AdjustmentRangeDisplayProcedures, AmplifierThatStaysAwayOrLeavesTheMarkerUnanswered) {
    SimPort away(413, LineKind::Virtual, onRequest());
    SimPort mute(414, LineKind::Virtual, onRequest());
    ASSERT_EQ(away.activate(), 0);
    ASSERT_EQ(mute.activate(), 0);
    away.model().setAdjustment({6000, sim::AdjustmentEnd::Value, true});
    mute.model().setAdjustment({100, sim::AdjustmentEnd::Value, false});
    int stayedAway = 9;
    std::thread t([&] { stayedAway = TKAsetScale(413); });
    const std::uint32_t start = platform::tickCount();
    EXPECT_EQ(TKAsetCal(414), -1);
    EXPECT_GE(test::since(start), 5100u);  // the marker's wait: 5000 ms plus 100, values were not held
    t.join();
    EXPECT_EQ(stayedAway, 0);
    for (unsigned port : {413u, 414u}) EXPECT_EQ(sessionOf(port).holdValues.load(), 0u);
    test::requestValues(mute, 1);
    EXPECT_EQ(takeAll(414), 1);  // values are stored again
}

TEST(AdjustmentRangeDisplayThresholds, ClampsAndRoundingEdgesInBothPolarities) {
    SimPort sp(415, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double upper, lower;
        Bytes wire;  // empty: refused
    };
    // bipolar: raw = round(x / (2.1 / 65536)) + 32768
    const Row bipolar[] = {
        {1.05, -1.05, {32, 0xFF, 0xFF, 0x00, 0x00}},      // 65536 clamped to 65535
        {1.04999, 0.0, {32, 0xFF, 0xFF, 0x80, 0x00}},     // rounds to 65536 too
        {1.0500001, 0.0, {}},                             // above the scale: not clamped
        {0.0, -1.0500161, {}},                            // -32768.5 rounds to -32769: raw -1
        {0.0, -1.05001, {32, 0x80, 0x00, 0x00, 0x00}},    // -32768.3 rounds into range
        {1e5, 0.0, {}}, {1e300, 0.0, {}}, {0.0, -1e300, {}}, {inf, 0.0, {}}, {0.5, -inf, {}}, {nan, 0.0, {}},
        {3.204345703125e-5, 1.7e-5, {}},                  // both round to 32769
    };
    for (const Row& r : bipolar) {
        SCOPED_TRACE(r.upper);
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetThreshold(p, r.upper, r.lower); }),
                         r.wire.empty() ? -1 : 0),
                  r.wire);
    }
    ASSERT_EQ(TKAsetUnipolar(415), 0);
    ASSERT_TRUE(test::roundTrip(415));
    // unipolar: raw = round(x / (1.05 / 65536))
    const Row unipolar[] = {
        {1.05, 0.0, {67, 0xFF, 0xFF, 0x00, 0x00}},
        {0.5, -0.0000001, {67, 0x79, 0xE8, 0x00, 0x00}},  // 31207.6 -> 31208; the tiny negative rounds to 0
        {0.5, -0.001, {}}, {1.2, 0.0, {}}, {0.0, -1.05, {}}, {1e5, 0.5, {}},
    };
    for (const Row& r : unipolar) {
        SCOPED_TRACE(r.upper);
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetSecondThreshold(p, r.upper, r.lower); }),
                         r.wire.empty() ? -1 : 0),
                  r.wire);
    }
    test::answerWith(sp, Answer{33, 0xFFFF0000});
    double upper = 9, lower = 9;
    ASSERT_EQ(TKAgetThreshold(415, &upper, &lower), 0);
    EXPECT_DOUBLE_EQ(upper, 1.0499839782714844);
    EXPECT_DOUBLE_EQ(lower, 0.0);
    sp.model().setFaults(sim::Faults{}.silence(33));
    upper = 9;
    EXPECT_EQ(TKAgetThreshold(415, &upper, &lower), -1);
    EXPECT_EQ(upper, 9.0);  // untouched
}

TEST(AdjustmentRangeDisplayRange, LevelFourUsesTenthsLevelFiveTheRangeTable) {
    SimPort older(416, LineKind::Virtual, onRequest(4));
    ASSERT_EQ(older.activate(), 0);
    EXPECT_EQ(wireExpecting(older, call([](unsigned p) { return NXwriteRange(p, 2.0); }), 0), (Bytes{50, 20}));
    EXPECT_EQ(wireExpecting(older, call(TKAgetRange), 2.0), (Bytes{51}));

    SimPort sp(417, LineKind::Virtual, onRequest(5));
    ASSERT_EQ(sp.activate(), 0);
    sim::AmplifierModel& m = sp.model();
    m.clearRangeTable();
    // 2.0 as minus 200 hundredths in entry 0/0
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return NXwriteRange(p, 2.0); }), 0), (Bytes{163, 0x00, 0x80, 0x00, 0xC8}));
    EXPECT_EQ(wireExpecting(sp, call(TKAgetRange), 2.0), (Bytes{162, 0x00}));
    for (double bad : {-1.0, 0.004, 83886.08, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_TRUE(wireExpecting(sp, call([bad](unsigned p) { return NXwriteRange(p, bad); }), -1).empty()) << bad;

    m.setReg(cmd::kGetRange, 25);
    struct Row {
        std::uint32_t entry;
        double range;
        Bytes wire;
    };
    const Row rows[] = {
        {0x0200012C, 3.0, {162, 0x00}},        // positive status: the magnitude, sign dropped
        {0xFFFFFFFF, -1.0, {162, 0x00}},       // no such entry
        {0x0080012C, -1.0, {162, 0x00}},       // status 0 and negative
        {0x0000012C, 2.5, {162, 0x00, 51}},    // status 0 and positive: the older query
        {0x80000000, 2.5, {162, 0x00, 51}},    // end of a group: +1.0, status 0
    };
    for (const Row& r : rows) {
        m.setRangeEntry(0, 0, r.entry);
        EXPECT_EQ(wireExpecting(sp, call(TKAgetRange), r.range), r.wire) << std::hex << r.entry;
    }
    m.setFaults(sim::Faults{}.silence(162));
    EXPECT_EQ(wireExpecting(sp, call(TKAgetRange), -1.0), (Bytes{162, 0x00}));
}

TEST(AdjustmentRangeDisplayQueries, AvailabilityFollowsTheAmplifiersSet) {
    SimPort sp(418, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    std::bitset<256> set;
    set.set(162).set(163);
    sp.model().setAvailableCommands(set);
    EXPECT_EQ(TKAisCommandAvailable(418, 163, 162), 1);
    EXPECT_EQ(TKAisCommandAvailable(418, 164, 162), 0);
    sp.model().setReg(cmd::kGetLastError, 42);
    EXPECT_EQ(TKAgetLastError(418), 42);
}

ActivationParams withDisplayFlag() { return ActivationParams{16, 1000, NXTKA_FLAG_DISPLAY, 0}; }

TEST(AdjustmentRangeDisplayDisplay, NormLimitsFollowTheLevelAndTheFlags) {
    SimPort one(419, LineKind::Virtual, onRequest(1));
    ASSERT_EQ(one.activate(), 0);
    EXPECT_EQ(wireExpecting(one, call([](unsigned p) { return TKADispSetNorm(p, 100000.0); }), 0),
              (Bytes{17, 6, 28, 16, 0x50, 0x1B, 0xE4, 26, 4}));  // 1.0 x 10^5: exponent 6, r = 5250020
    EXPECT_TRUE(wireExpecting(one, call([](unsigned p) { return TKADispSetNorm(p, 200000.0); }), -1).empty());
    EXPECT_TRUE(wireExpecting(one, call([](unsigned p) { return TKADispSetNorm(p, -2.0); }), -1).empty());

    SimPort four(420, LineKind::Virtual, onRequest(4));
    ASSERT_EQ(four.activate(withDisplayFlag()), 0);
    PortSession& s = sessionOf(420);
    ASSERT_EQ(s.displayFlags.load(), 0x30);
    // 2 x 10^5 = 0.2 x 10^6: exponent 7; negative: bit 23 on the wire
    EXPECT_EQ(wireExpecting(four, call([](unsigned p) { return TKADispSetNorm(p, -200000.0); }), 0),
              (Bytes{17, 7, 28, 16, 0x90, 0x05, 0x94, 26, 4}));
    EXPECT_EQ(s.displayFlags.load(), 0x31);
    EXPECT_DOUBLE_EQ(TKADispGetNorm(420), -200000.0);
    // The amplifier computes 250 = 0.25 x 10^3 itself: exponent 4, r = 1312505
    four.model().setCalculatedNorm(250.0);
    EXPECT_EQ(TKADispCalcNorm(420), 0);
    EXPECT_EQ(s.displayFlags.load(), 0x30);
    EXPECT_EQ(s.displayDecimalPoint.load(), 4);
    EXPECT_EQ(s.displayNormRaw.load(), 1312505u);
    EXPECT_DOUBLE_EQ(TKADispGetNorm(420), 250.0);
    four.model().setFaults(sim::Faults{}.silence(28));
    EXPECT_EQ(TKADispGetNorm(420), 0.0);  // activated with the display flag
    EXPECT_EQ(TKADispGetNorm(419), 100000.0);
    one.model().setFaults(sim::Faults{}.silence(28));
    EXPECT_EQ(TKADispGetNorm(419), -1.0);
}

TEST(AdjustmentRangeDisplayDisplay, NormOfZeroNeverBecomesTheDivisor) {
    sim::Config c = onRequest();
    c.stream.kind = sim::FrameKind::Text;
    c.stream.level = 0.5;
    SimPort sp(421, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    PortSession& s = sessionOf(421);
    sp.model().setReg(cmd::kDispGetNorm, 0x800000);  // magnitude 0
    EXPECT_EQ(TKADispGetNorm(421), 0.0);             // reported as it is...
    EXPECT_EQ(s.displayNormRaw.load(), 5250020u);    // ...but the last good norm stays
    EXPECT_DOUBLE_EQ(s.displayNorm.load(), 1.0);
    sp.model().setCalculatedNorm(0.0);
    EXPECT_EQ(TKADispCalcNorm(421), 0);
    EXPECT_DOUBLE_EQ(s.displayNorm.load(), 1.0);
    sp.model().setReg(cmd::kDispGetNorm, 5250020);
    test::requestValues(sp, 1);
    double v = 0;
    ASSERT_EQ(TKAread(421, &v), 1);
    EXPECT_NEAR(v, 0.5, 1e-6);
}

TEST(AdjustmentRangeDisplayDisplay, ReadBackWaitsLongerThanAPlainQuery) {
    SimPort sp(422, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    sp.model().setFaults(sim::Faults{}.delay(28, 1050));
    EXPECT_EQ(TKADispGetDPoint(422), -1);  // 1000 ms
    platform::sleepMs(200);                // let the late answer pass
    EXPECT_EQ(TKADispSetDPoint(422, 2), 0);  // 1100 ms
    EXPECT_EQ(sessionOf(422).displayDecimalPoint.load(), 2);
}

}  // namespace
}  // namespace nxtka
