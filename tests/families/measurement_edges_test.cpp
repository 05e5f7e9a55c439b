// Identification words, control word and operating modes: the cases where
// the session's caches, the amplifier's level or the timing matter.
#include "support/family_tests.h"

#include <cstring>
#include <set>
#include <thread>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;

using test::sessionOf;
using test::wireExpecting;
using test::config;

class MeasurementEdges : public ::testing::TestWithParam<LineKind> {};

TEST_P(MeasurementEdges, QueriesRefreshTheirCachesAndWritesDoNot) {
    SimPort sp(310, GetParam(), config(3, 0, 0x000028));  // bipolar
    ASSERT_EQ(sp.activate(), 0);
    PortSession& s = sessionOf(310);
    test::answerWith(sp, Answer{54, 0x0007C1});
    EXPECT_EQ(TKAgetOptions(310), 1985);
    EXPECT_EQ(s.optionBits.load(), 1985);
    EXPECT_EQ(NXwriteOptions(310, 0), 0);
    EXPECT_EQ(s.optionBits.load(), 1985);  // a write leaves the library's copy alone

    EXPECT_EQ(s.bipolar.load(), 1);
    EXPECT_EQ(TKAwriteControl(310, 0x001028), 0);  // unipolar on the amplifier...
    EXPECT_EQ(s.bipolar.load(), 1);                // ...but the library still converts as bipolar
    test::answerWith(sp, Answer{3, 0x001028});
    EXPECT_EQ(TKAisBipol(310), 0);
    EXPECT_EQ(s.bipolar.load(), 0);
    EXPECT_EQ(TKAsetBipolar(310), 0);
    EXPECT_EQ(s.bipolar.load(), 1);
    EXPECT_EQ(TKAsetUnipolar(310), 0);
    EXPECT_EQ(s.bipolar.load(), 0);
    EXPECT_EQ(TKAfirmwareVersion(310), 0x0C10);
    EXPECT_EQ(s.firmwareVersion.load(), 0x0C10);

    sp.model().setFaults(sim::Faults{}.silence(cmd::kGetOptions).silence(cmd::kGetControl));
    EXPECT_EQ(TKAgetOptionsLinear(310), -1);
    EXPECT_EQ(s.optionBits.load(), 1985);
    EXPECT_EQ(TKAisBipol(310), -1);
    EXPECT_EQ(s.bipolar.load(), 0);
}

TEST_P(MeasurementEdges, OlderAmplifiersTakeChannelAndFrequencyFromTheControlWord) {
    SimPort sp(311, GetParam(), config(2, 0, 0x1C1028));
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(wireExpecting(sp, [](unsigned p) { return TKAgetChannel(p); }, 0), (std::vector<std::uint8_t>{3}));
    EXPECT_EQ(wireExpecting(sp, [](unsigned p) { return TKAgetFreq(p); }, 19531.25 / 40), (std::vector<std::uint8_t>{3}));
    test::answerWith(sp, Answer{3, 0x020000});  // channel 1, divisor 0
    EXPECT_EQ(TKAgetChannel(311), 1);
    EXPECT_EQ(TKAgetFreq(311), -1.0);
}

TEST_P(MeasurementEdges, ExtendedDivisorWidensTheFrequencyBand) {
    SimPort sp(312, GetParam(), config(2, 0x40));
    ASSERT_EQ(sp.activate(), 0);
    // 19531.25 / 0.3 = 65104.17 -> 65104 = 0xFE50; 39062.5 gives 0.5 -> 1.
    EXPECT_EQ(wireExpecting(sp, [](unsigned p) { return TKAsetFreq(p, 0.3); }, 0), (std::vector<std::uint8_t>{18, 0xFE, 0x50}));
    EXPECT_EQ(wireExpecting(sp, [](unsigned p) { return TKAsetFreq(p, 39062.5); }, 0), (std::vector<std::uint8_t>{18, 0, 1}));
    // Just above 39062.5 the divisor rounds to 0; below 19531.25 / 65535.5 it is too large.
    EXPECT_TRUE(wireExpecting(sp, [](unsigned p) { return TKAsetFreq(p, 39063.0); }, -1).empty());
    EXPECT_TRUE(wireExpecting(sp, [](unsigned p) { return TKAsetFreq(p, 0.298); }, -1).empty());
    // With the option the frequency is read by its own query even below level 3.
    test::answerWith(sp, Answer{22, 16777216 - 10000});
    EXPECT_EQ(wireExpecting(sp, [](unsigned p) { return TKAgetFreq(p); }, 500.0), (std::vector<std::uint8_t>{22}));
}

TEST_P(MeasurementEdges, SettingsLockFollowsTheLevel) {
    const unsigned char id[3] = {7, 8, 9};
    SimPort old(313, GetParam(), config(2));
    ASSERT_EQ(old.activate(), 0);
    EXPECT_EQ(wireExpecting(old, [&](unsigned p) { return NXsetModeLock(p, 0, id); }, 0), (std::vector<std::uint8_t>{25, 7, 8, 9}));
    test::answerWith(old, Answer{39, 0x41});
    EXPECT_EQ(wireExpecting(old, [&](unsigned p) { return NXsetModeLock(p, 1, nullptr); }, 0),
              (std::vector<std::uint8_t>{39, 38, 0xC1}));
    EXPECT_TRUE(wireExpecting(old, [&](unsigned p) { return NXsetModeLock(p, 0, nullptr); }, -1).empty());

    SimPort newer(314, GetParam(), config(4));
    ASSERT_EQ(newer.activate(), 0);
    EXPECT_EQ(wireExpecting(newer, [&](unsigned p) { return NXsetModeLock(p, 1, id); }, 0),
              (std::vector<std::uint8_t>{146, 7, 8, 9}));
}

TEST_P(MeasurementEdges, SerialNumberReadsEightBytesAsTheyAre) {
    sim::Config c = config(3);
    c.serialNumber = 0x4142430044454647ull;  // "ABC\0DEFG"
    SimPort sp(315, GetParam(), c);
    char text[9];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(TKAgetSerialNo(1024, text), -1);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(TKAgetSerialNo(315, nullptr), -1);
    ASSERT_EQ(sp.activate(), 0);
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(TKAgetSerialNo(315, text), 0);
    EXPECT_EQ(std::memcmp(text, "ABC\0DEFG\0", 9), 0);
}

TEST_P(MeasurementEdges, SerialNumberIsWrittenOneByteEveryTenMilliseconds) {
    SimPort sp(316, GetParam(), config(3));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().clearRecord();
    EXPECT_EQ(NXwriteSerialNo(316, nullptr), -1);
    ASSERT_EQ(NXwriteSerialNo(316, "SN-00042"), 0);
    ASSERT_TRUE(test::roundTrip(316));
    const auto cmds = sp.model().commands();
    ASSERT_GE(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].code, cmd::kWriteSerialNo);
    EXPECT_EQ(std::string(cmds[0].params.begin(), cmds[0].params.end()), "SN-00042");
    ASSERT_EQ(cmds[0].byteTimes.size(), 9u);
    // Written one by one, more than 10 ms apart. The simulator's reader may
    // be scheduled late for a byte and take two at once, so this asks for
    // most bytes on their own and the span of eight pauses, less some slack.
    const auto& t = cmds[0].byteTimes;
    EXPECT_GT(t[8] - t[0], std::chrono::milliseconds(60));
    EXPECT_GE(std::set<sim::Clock::time_point>(t.begin(), t.end()).size(), 6u);
}

TEST_P(MeasurementEdges, FlagSetterKeepsOtherCommandsOutBetweenReadAndWrite) {
    SimPort sp(317, GetParam(), config(3));
    ASSERT_EQ(sp.activate(), 0);
    test::answerWith(sp, Answer{39, 0x01});
    sp.model().setFaults(sim::Faults{}.delay(cmd::kGetMode, 200));
    sp.model().clearRecord();
    std::thread other([] {
        platform::sleepMs(50);  // while the mode read waits for its answer
        EXPECT_EQ(TKAgetEquipment(317), 0);
    });
    EXPECT_EQ(TKAsetModeText(317, 1), 0);
    other.join();
    ASSERT_TRUE(test::roundTrip(317));
    EXPECT_EQ(test::receivedBytes(sp.model()), (std::vector<std::uint8_t>{39, 38, 0x03, 41, 43}));
}

TEST_P(MeasurementEdges, SilentAmplifierFailsTheChannelAndFreesThePort) {
    SimPort sp(318, GetParam(), config(1));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().setFaults(sim::Faults{}.silence(cmd::kGetControl));
    EXPECT_EQ(TKAgetChannel(318), -1);
    EXPECT_EQ(TKAgetGain(318), -1);
    sp.model().setFaults(sim::Faults{});
    EXPECT_EQ(TKAgetMode(318), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, MeasurementEdges, ::testing::Values(LineKind::Virtual, LineKind::Pty),
                         test::lineName);

}  // namespace
}  // namespace nxtka
