// Sampling rate, transmission, special modes, filters, CAN, sensor and user
// data: the cases where the session's caches, the amplifier's level or the
// encodings' edges matter.
#include "support/family_tests.h"

#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::Bytes;
using test::sessionOf;
using test::wireExpecting;
using test::config;

constexpr std::uint32_t kUnipolarControl = 0x001028;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();


using test::call;

class TransmissionEdges : public ::testing::TestWithParam<LineKind> {};

// ---------------------------------------------------------------- sampling rate

struct RateCase {
    double frequency;
    std::int32_t factor;
    std::int64_t word;  // -1: refused, nothing sent
};

struct ProtocolCase {
    std::uint32_t protocol;
    std::vector<RateCase> cases;
};

TEST(TransmissionEdgesRate, EveryProtocolEncodesItsOwnWay) {
    const ProtocolCase protocols[] = {
        // timer frequency, exponent factor
        {0,
         {{76.29336324033173, 1, -1},
          {76.2934, 1, 0x000000},        // 5000000 / 76.2934 = 65535.54 -> 65536, F = 0
          {10000.0, 8, 0x03FE0C},        // F = 65536 - 500, E = 3
          {10100.0, 1, -1},              // reload 495, F = 65041 > 0xFE10
          {500.0, 1 << 30, 0x1ED8F0},    // F = 65536 - 10000, E = 30
          {500.0, 6, -1},
          {500.0, 0, -1},
          {500.0, -8, -1}}},
        // timer frequency, linear factor
        {1, {{500.0, 63, 0x7FD8F0}, {500.0, 64, -1}, {500.0, 8, 0x48D8F0}}},
        // linear frequency, exponent factor
        {2,
         {{0.25, 1, 0x800001},
          {0.2, 1, -1},
          {32767.5, 2, 0x81FFFF},
          {32768.0, 1, -1},
          {-0.5, 1, -1},
          {kNaN, 1, -1},
          {kInf, 1, -1}}},
        // both linear
        {3, {{1000.0, 1, 0xC107D0}, {1000.0, 0, -1}}},
    };
    for (const ProtocolCase& pc : protocols) {
        SCOPED_TRACE(pc.protocol);
        SimPort sp(510, LineKind::Virtual);
        sp.model().setReg(cmd::kReadSamplingRate, pc.protocol << 22);
        ASSERT_EQ(sp.activate(), 0);
        bool first = true;
        for (const RateCase& c : pc.cases) {
            SCOPED_TRACE(c.frequency);
            const Bytes bytes = wireExpecting(sp, call([&](unsigned p) { return TKAwriteSamplingRate(p, c.frequency, c.factor); }),
                                       c.word < 0 ? -1 : 0);
            Bytes expected;
            if (first) expected.push_back(139);  // the protocol is read once
            if (c.word >= 0) {
                const auto w = static_cast<std::uint32_t>(c.word);
                expected.insert(expected.end(), {138, std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)});
            }
            EXPECT_EQ(bytes, expected);
            first = false;
        }
        EXPECT_EQ(TKAisSamplingFrequencyProtocolLinear(510), (pc.protocol >> 1) & 1 ? 1 : 0);
        EXPECT_EQ(TKAisSamplingFactorProtocolLinear(510), pc.protocol & 1 ? 1 : 0);
    }
}

TEST_P(TransmissionEdges, ProtocolIsCachedUntilTheAmplifierIsIdentifiedAgain) {
    SimPort sp(511, GetParam());
    sp.model().setReg(cmd::kReadSamplingRate, 0x800000);  // linear frequency
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sessionOf(511).samplingProtocol.load(), -1);
    EXPECT_EQ(wireExpecting(sp, call(TKAisSamplingFrequencyProtocolLinear), 1), (Bytes{139}));
    // Changed behind the library's back: the cached protocol still rules...
    sp.model().setReg(cmd::kReadSamplingRate, 0x000000);
    EXPECT_EQ(wireExpecting(sp, call(TKAisSamplingFrequencyProtocolLinear), 1), Bytes{});
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAwriteSamplingRate(p, 1.0, 1); }), 0),
              (Bytes{138, 0x80, 0x00, 0x02}));
    // ...until re-identification forgets it.
    ASSERT_EQ(TKAinitialize(511), 0);
    EXPECT_EQ(sessionOf(511).samplingProtocol.load(), -1);
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAwriteSamplingRate(p, 10000.0, 1); }), 0),
              (Bytes{139, 138, 0x00, 0xFE, 0x0C}));
    EXPECT_EQ(TKAisSamplingFrequencyProtocolLinear(511), 0);
}

TEST(TransmissionEdgesRate, ReadsDecodeAndAFailedReadLeavesTheCacheUnknown) {
    SimPort sp(512, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    double frequency = 0;
    std::int32_t factor = 0;
    test::answerWith(sp, Answer{139, 0x800002});
    ASSERT_EQ(TKAreadSamplingRate(512, &frequency, &factor), 0);
    EXPECT_DOUBLE_EQ(frequency, 1.0);
    EXPECT_EQ(factor, 1);
    EXPECT_EQ(sessionOf(512).samplingProtocol.load(), 2);
    // Exponent 31 under the exponent protocol: factor -1 while the read succeeds.
    test::answerWith(sp, Answer{139, 0x1FD8F0});
    ASSERT_EQ(TKAreadSamplingRate(512, &frequency, &factor), 0);
    EXPECT_EQ(factor, -1);
    EXPECT_DOUBLE_EQ(frequency, 500.0);
    EXPECT_EQ(TKAreadSamplingFactor(512), -1);
    test::answerWith(sp, Answer{139, 0x7F0000});  // linear factor 63, timer F = 0
    EXPECT_EQ(TKAreadSamplingFactor(512), 63);
    EXPECT_DOUBLE_EQ(TKAreadSamplingFrequency(512), 5000000.0 / 65536.0);

    ASSERT_EQ(TKAinitialize(512), 0);
    sp.model().setFaults(sim::Faults{}.silence(139));
    frequency = 7;
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAwriteSamplingRate(p, 500.0, 1); }), -1), (Bytes{139}));
    EXPECT_EQ(TKAisSamplingFactorProtocolLinear(512), -1);
    EXPECT_EQ(TKAreadSamplingRate(512, &frequency, &factor), -1);
    EXPECT_EQ(frequency, 7);
    EXPECT_EQ(TKAreadSamplingFrequency(512), -1.0);
    EXPECT_EQ(sessionOf(512).samplingProtocol.load(), -1);
}

// ---------------------------------------------------------------- speed tables

TEST(TransmissionEdgesSpeeds, SerialAndCanSpeedsGoByTablePosition) {
    SimPort sp(513, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    const std::pair<int, int> serial[] = {{0, 4800},    {1, 9600},     {2, 19200},   {3, 38400},
                                          {4, 57600},   {5, 115200},   {6, 250000},  {7, 625000},
                                          {8, 1250000}, {9, 230400},   {10, 460800}, {11, 921600}};
    for (const auto& entry : serial) {
        const int index = entry.first;
        const int rate = entry.second;
        SCOPED_TRACE(rate);
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetBaudRate(p, rate); }), 0),
                  (Bytes{130, std::uint8_t(index)}));
        EXPECT_EQ(TKAgetBaud(513), index);
        EXPECT_EQ(TKAgetBaudRate(513), rate);
    }
    for (int rate : {0, -9600, 14400, 1000000})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetBaudRate(p, rate); }), -1).empty());
    ASSERT_EQ(TKAsetBaud(513, 12), 0);
    EXPECT_EQ(TKAgetBaudRate(513), -1);
    ASSERT_EQ(TKAsetBaud(513, 255), 0);
    EXPECT_EQ(TKAgetBaudRate(513), -1);

    const std::pair<int, int> can[] = {{1, 50000},  {2, 62500},  {3, 83333},  {4, 100000},
                                       {5, 125000}, {6, 250000}, {7, 500000}, {8, 1000000}};
    for (const auto& entry : can) {
        const int index = entry.first;
        const int rate = entry.second;
        SCOPED_TRACE(rate);
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetCanBaudRate(p, rate); }), 0),
                  (Bytes{140, 126, 0, std::uint8_t(index)}));
        ASSERT_TRUE(test::roundTrip(513));
        EXPECT_EQ(sp.model().canSetting(126), index);
        EXPECT_EQ(TKAgetCanBaud(513), index);
        EXPECT_EQ(TKAgetCanBaudRate(513), rate);
    }
    for (int rate : {-1, 0, 83334, 1})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetCanBaudRate(p, rate); }), -1).empty());
    for (int index : {0, 9, 0xFFFF}) {
        ASSERT_EQ(TKAsetCanSetting(513, 126, index), 0);
        EXPECT_EQ(TKAgetCanBaudRate(513), -1);
    }
    EXPECT_EQ(TKAsetCanBaud(513, -3), -1);
}

// ---------------------------------------------------------------- special modes and the sleep bit

TEST_P(TransmissionEdges, KeptSleepBitRulesTheWordAndReturnsAtRelease) {
    sim::Config c = config(3, 0x200);
    c.specialMode = 0x0043;  // asleep
    {
        SimPort sp(514, GetParam(), c);
        ASSERT_EQ(sp.activate(), 0);
        EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x0003u);  // awake while active
        EXPECT_EQ(TKAgetSpecialModeSleep(514), 1);
        EXPECT_EQ(TKAgetSpecialMode(514), 0x0043);
        EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetSpecialModeNoiseCut(p, 1); }), 0),
                  (Bytes{137, 136, 0x80, 0x03}));
        EXPECT_EQ(TKAgetSpecialModeSleep(514), 1);
        EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetSpecialMode(p, 0x0001); }), 0),
                  (Bytes{136, 0x00, 0x01}));
        EXPECT_EQ(TKAgetSpecialModeSleep(514), 0);
        EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetSpecialMode(p, 0x0041); }), 0),
                  (Bytes{136, 0x00, 0x01}));
        EXPECT_EQ(TKAgetSpecialModeSleep(514), 1);
        EXPECT_EQ(TKAgetSpecialMode(514), 0x0041);
        EXPECT_EQ(TKAsetSpecialModeSleep(514, 0), 0);
        EXPECT_EQ(TKAsetSpecialModeSleep(514, 5), 0);
        EXPECT_EQ(TKAgetSpecialModeSleep(514), 1);
        sp.model().clearRecord();
        TKArelease(514);
        EXPECT_TRUE(test::eventually([&] { return sp.model().reg(cmd::kGetSpecialMode) == 0x0041u; }));
        EXPECT_EQ(sp.model().commandCount(137), 1u);
    }
    {
        SimPort sp(515, GetParam(), config(3, 0));  // no sleep option
        ASSERT_EQ(sp.activate(), 0);
        EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetSpecialMode(p, 0x0041); }), 0),
                  (Bytes{136, 0x00, 0x01}));
        EXPECT_EQ(TKAgetSpecialModeSleep(515), 0);
        EXPECT_EQ(TKAsetSpecialModeSleep(515, 1), 0);  // accepted, not kept
        EXPECT_EQ(TKAgetSpecialModeSleep(515), 0);
        EXPECT_EQ(TKAgetSpecialMode(515), 0x0001);
        sp.model().clearRecord();
        TKArelease(515);
        EXPECT_EQ(sp.model().commandCount(137), 0u);
        EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x0001u);
    }
}

TEST(TransmissionEdgesSleep, WithoutTheOptionOnlyAZeroWordClearsTheKeptBit) {
    sim::Config c = config(3, 0x200);
    c.specialMode = 0x0040;
    SimPort sp(516, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    PortSession& s = sessionOf(516);
    s.optionBits = 0;  // the options as a later TKAgetOptions may find them
    EXPECT_EQ(TKAsetSpecialMode(516, 0x0001), 0);
    EXPECT_EQ(s.sleepMode.load(), 1);  // bit 6 clear, but the word is not 0
    EXPECT_EQ(TKAsetSpecialMode(516, 0), 0);
    EXPECT_EQ(s.sleepMode.load(), 0);
}

TEST(TransmissionEdgesSleep, AFailedWriteKeepsTheSleepBit) {
    sim::Config c = config(3, 0x200);
    c.specialMode = 0x0040;
    SimPort sp(517, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    platform::VirtualLink::Faults f = sp.link()->faults();
    f.writeError = 5;
    sp.link()->setFaults(f);
    EXPECT_EQ(TKAsetSpecialMode(517, 0x0000), -1);
    EXPECT_EQ(TKAsetSpecialMode(517, 0x0001), -1);
    sp.link()->setFaults(platform::VirtualLink::Faults{});
    EXPECT_EQ(TKAgetSpecialModeSleep(517), 1);
    TKArelease(517);
    EXPECT_TRUE(test::eventually([&] { return sp.model().reg(cmd::kGetSpecialMode) == 0x0040u; }));
}

// ---------------------------------------------------------------- normalized values

struct Normalized {
    const char* name;
    bool bipolar;
    int (*set)(uint32_t, double);
    double x;
    std::int64_t raw;  // -1: refused, nothing sent
};

TEST(TransmissionEdgesScale, NormalizedSettersClampOrRefuseAtTheScaleEnds) {
    const Normalized rows[] = {
        {"delta uni 1.05", false, TKAsetTransmissionDelta, 1.05, -1},
        {"delta uni 1.0", false, TKAsetTransmissionDelta, 1.0, 15978301},
        {"delta uni -0.001", false, TKAsetTransmissionDelta, -0.001, -1},
        {"delta bi -1.05", true, TKAsetTransmissionDelta, -1.05, 0},
        {"delta bi 1.05", true, TKAsetTransmissionDelta, 1.05, -1},
        {"delta NaN", true, TKAsetTransmissionDelta, kNaN, -1},
        {"noise uni 1.05", false, TKAsetNoiseCutThreshold, 1.05, 0xFFFFFF},
        {"noise uni 1.06", false, TKAsetNoiseCutThreshold, 1.06, -1},
        {"noise uni 0.5", false, TKAsetNoiseCutThreshold, 0.5, 7989150},
        {"noise uni tiny negative", false, TKAsetNoiseCutThreshold, -1e-9, 0},
        {"noise uni -0.001", false, TKAsetNoiseCutThreshold, -0.001, -1},
        {"noise uni 1e10", false, TKAsetNoiseCutThreshold, 1e10, -1},
        {"noise bi -1.05", true, TKAsetNoiseCutThreshold, -1.05, 0},
        {"noise bi 0", true, TKAsetNoiseCutThreshold, 0.0, 0x800000},
        {"noise bi 1.05", true, TKAsetNoiseCutThreshold, 1.05, 0xFFFFFF},
        {"noise bi -1.1", true, TKAsetNoiseCutThreshold, -1.1, -1},
        {"noise bi 1e10", true, TKAsetNoiseCutThreshold, 1e10, -1},
        {"noise NaN", true, TKAsetNoiseCutThreshold, kNaN, -1},
        {"noise inf", false, TKAsetNoiseCutThreshold, kInf, -1},
        {"noise -inf", true, TKAsetNoiseCutThreshold, -kInf, -1},
        {"offset bi 0.525", true, TKAsetUserOffset, 0.525, 12582912},
        {"offset bi -0.525", true, TKAsetUserOffset, -0.525, 4194304},
        {"offset bi 0.53", true, TKAsetUserOffset, 0.53, -1},
        {"offset uni 0.525", false, TKAsetUserOffset, 0.525, 8388608},
        {"offset uni -0.1", false, TKAsetUserOffset, -0.1, -1},
        {"offset NaN", false, TKAsetUserOffset, kNaN, -1},
    };
    SimPort bi(518, LineKind::Virtual, config(3, 0, 0x000028));
    SimPort uni(519, LineKind::Virtual, config(3, 0, kUnipolarControl));
    ASSERT_EQ(bi.activate(), 0);
    ASSERT_EQ(uni.activate(), 0);
    for (const Normalized& r : rows) {
        SCOPED_TRACE(r.name);
        SimPort& sp = r.bipolar ? bi : uni;
        const Bytes bytes = wireExpecting(sp, call([&](unsigned p) { return r.set(p, r.x); }), r.raw < 0 ? -1 : 0);
        if (r.raw < 0) {
            EXPECT_TRUE(bytes.empty());
        } else {
            ASSERT_EQ(bytes.size(), 4u);
            EXPECT_EQ((bytes[1] << 16) | (bytes[2] << 8) | bytes[3], r.raw);
        }
    }
    // Read back with the session's polarity.
    double v = 0;
    uni.model().setReg(cmd::kGetTransmissionDelta, 0xFFFFFF);
    ASSERT_EQ(TKAgetTransmissionDelta(519, &v), 0);
    EXPECT_DOUBLE_EQ(v, 16777215.0 * 1.05 / 16777216.0);
    bi.model().setReg(cmd::kGetUserOffset, 0);
    ASSERT_EQ(TKAgetUserOffset(518, &v), 0);
    EXPECT_DOUBLE_EQ(v, -1.05);
    uni.model().setReg(cmd::kGetNoiseCutThreshold, 8388608);
    EXPECT_DOUBLE_EQ(TKAgetNoiseCutThreshold(519), 0.525);
}

// ---------------------------------------------------------------- adaptive filter

TEST(TransmissionEdgesFilter, ThresholdRoundsUpToTheNextMaskAtEveryBoundary) {
    constexpr double kStep = 6.258487701416016e-8;  // 1.05 / 2^24
    const std::pair<double, std::uint32_t> rows[] = {
        {1e-9, 0xFFFF00},        {255 * kStep, 0xFFFF00},   {256 * kStep, 0xFFFE00},   {511 * kStep, 0xFFFE00},
        {512 * kStep, 0xFFFC00}, {1023 * kStep, 0xFFFC00},  {1024 * kStep, 0xFFF800},  {2047 * kStep, 0xFFF800},
        {2048 * kStep, 0xFFF000}, {4095 * kStep, 0xFFF000}, {4096 * kStep, 0xFFE000},  {5000 * kStep, 0xFFE000},
        {8191 * kStep, 0xFFE000}, {8192 * kStep, 0xFFC000}, {16383 * kStep, 0xFFC000}, {16384 * kStep, 0xFF8000},
        {32767 * kStep, 0xFF8000}, {32768 * kStep, 0xFF0000}, {65536 * kStep, 0xFF0000}, {1.0, 0xFF0000},
        {200.0, 0xFF0000},       {1e300, 0xFF0000},
    };
    SimPort sp(520, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    for (const auto& row : rows) {
        const double x = row.first;
        const std::uint32_t mask = row.second;
        SCOPED_TRACE(x);
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetAdaptFilterThreshold(p, x); }), 0),
                  (Bytes{158, std::uint8_t(mask >> 16), std::uint8_t(mask >> 8), std::uint8_t(mask)}));
        double back = 0;
        ASSERT_EQ(TKAgetAdaptFilterThreshold(520, &back), 0);
        EXPECT_DOUBLE_EQ(back, static_cast<double>(~mask & 0xFFFF) * kStep);
    }
    for (double x : {0.0, -1.0, kNaN, kInf, -kInf})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetAdaptFilterThreshold(p, x); }), -1).empty());

    double back = 3;
    test::answerWith(sp, Answer{159, 0xFF1200});
    ASSERT_EQ(TKAgetAdaptFilterThreshold(520, &back), 0);
    EXPECT_DOUBLE_EQ(back, 0xEDFF * kStep);
    back = 3;
    for (std::uint32_t mask : {0xFEFF00u, 0xFFFF01u, 0x000000u}) {
        test::answerWith(sp, Answer{159, mask});
        EXPECT_EQ(TKAgetAdaptFilterThreshold(520, &back), -1);
    }
    sp.model().setFaults(sim::Faults{}.silence(159));
    EXPECT_EQ(TKAgetAdaptFilterThreshold(520, &back), -1);
    EXPECT_EQ(back, 3);
}

// ---------------------------------------------------------------- CAN

TEST_P(TransmissionEdges, CanIdentifiersUseBothHalves) {
    SimPort sp(521, GetParam());
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(TKAsetCanID(521, 3, 0x12345678), 0);
    ASSERT_TRUE(test::roundTrip(521));
    EXPECT_EQ(sp.model().canSetting(3), 0x5678);
    EXPECT_EQ(sp.model().canSetting(0x83), 0x1234);
    EXPECT_EQ(TKAgetCanID(521, 3), 0x12345678);
    EXPECT_EQ(TKAgetCanID(521, 0x83), 0x12345678);
    // The top bit of the identifier: unsigned arithmetic, the bits as they are.
    EXPECT_EQ(TKAsetCanID(521, 0x85, static_cast<std::int32_t>(0x9FFF0001u)), 0);
    ASSERT_TRUE(test::roundTrip(521));
    EXPECT_EQ(sp.model().canSetting(0x85), 0x9FFF);
    EXPECT_EQ(TKAgetCanID(521, 5), static_cast<std::int32_t>(0x9FFF0001u));
    // Index 0 and its upper half 0x80 cannot be written.
    EXPECT_TRUE(wireExpecting(sp, call([](unsigned p) { return TKAsetCanID(p, 0, 0x00070008); }), -1).empty());
    // Indexes beyond a byte never wrap into another setting.
    for (std::int32_t index : {0x100, 0x10000, 0x10003, -1, -126})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetCanSetting(p, index, 5); }), -1).empty());
    EXPECT_EQ(TKAsetCanSetting(521, 0x17E, 5), -1);
    sp.model().setFaults(sim::Faults{}.silence(141));
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAgetCanID(p, 3); }), -1), (Bytes{141, 3}));
}

TEST(TransmissionEdgesCan, FlagsAndLevelsBelowThree) {
    SimPort old(522, LineKind::Virtual, config(2));
    ASSERT_EQ(old.activate(), 0);
    EXPECT_TRUE(wireExpecting(old, call(TKAisCanAvailable), 0).empty());
    SimPort sp(523, LineKind::Virtual, config(3));
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(TKAisCanAvailable(523), 1);
    EXPECT_EQ(TKAgetCanActive(523), 0);
    ASSERT_EQ(TKAsetCanActive(523, 1), 0);
    ASSERT_TRUE(test::roundTrip(523));
    EXPECT_EQ(sp.model().canSetting(127), 0x0003);
    EXPECT_EQ(TKAgetCanActive(523), 1);
    ASSERT_EQ(TKAsetCanActive(523, 0), 0);
    ASSERT_TRUE(test::roundTrip(523));
    EXPECT_EQ(sp.model().canSetting(127), 0x0001);
    ASSERT_EQ(TKAsetCanSetting(523, 255, 0xABCE), 0);
    ASSERT_EQ(TKAsetCanMode20B(523, 1), 0);
    ASSERT_TRUE(test::roundTrip(523));
    EXPECT_EQ(sp.model().canSetting(255), 0xABCF);
    EXPECT_EQ(TKAgetCanMode20B(523), 1);
}

// ---------------------------------------------------------------- user text

TEST_P(TransmissionEdges, UserTextGoesLastToFirstWithinTheCells) {
    SimPort sp(524, GetParam());
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetUserText(p, nullptr); }), 0), (Bytes{152, 0, 0}));
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetUserText(p, ""); }), 0), (Bytes{152, 0, 0}));

    std::string text(300, '?');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    const Bytes bytes = wireExpecting(sp, call([&](unsigned p) { return TKAsetUserText(p, text.c_str()); }), 0);
    Bytes expected{152, 0, 0};
    for (int i = 255; i >= 0; --i) expected.insert(expected.end(), {152, std::uint8_t(i), std::uint8_t(text[i])});
    EXPECT_EQ(bytes, expected);
    const auto cells = sp.model().userText();
    EXPECT_EQ(std::string(cells.begin(), cells.end()), text.substr(0, 256));

    // 256 characters without a terminating zero: nothing beyond them is read.
    std::array<char, 256> full;
    full.fill('\xE9');
    EXPECT_EQ(TKAsetUserText(524, full.data()), 0);
    ASSERT_TRUE(test::roundTrip(524));
    EXPECT_EQ(sp.model().userText()[255], 0xE9);
}

TEST(TransmissionEdgesUserText, StopsAtTheFirstCharacterThatCannotBeSent) {
    SimPort sp(525, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    platform::VirtualLink::Faults f = sp.link()->faults();
    f.writeError = 5;
    sp.link()->setFaults(f);
    sp.model().clearRecord();
    EXPECT_EQ(TKAsetUserText(525, "ABC"), -1);
    sp.link()->setFaults(platform::VirtualLink::Faults{});
    ASSERT_TRUE(test::roundTrip(525));
    EXPECT_EQ(sp.model().commandCount(152), 0u);
}

// ---------------------------------------------------------------- sensor data

TEST(TransmissionEdgesSensor, RatedOutputTakesTheInputRangesExponent) {
    SimPort sp(526, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    struct Row {
        std::uint32_t rangeAnswer;
        double x;
        std::int64_t word;  // -1: refused after the range read
    };
    const Row rows[] = {
        {0x010000FA, 2.0, 0x011E8480},   // range 2.5: e = 0
        {0x01000032, 2.0, -1},           // range 0.5: e = -1, M = 20000000
        {0x00000032, 0.2, 0x001E8480},   // status 0 is accepted: range 0.5, E = 0
        {0x01800FA0, 35.0, 0x023567E0},  // range -40.00: e = 1, M = 3500000
        {0x80000000, 1.0, 0x010F4240},   // special answer +1.0: e = 0
        {0x01000005, 0.01, 0xFF0F4240},  // range 0.05: e = -2, exponent byte 0xFF
        {0x01000000, 2.0, -1},           // range 0
        {0x01800000, 2.0, -1},           // range -0
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.rangeAnswer);
        test::answerWith(sp, Answer{162, r.rangeAnswer});
        Bytes expected{162, 0};
        if (r.word >= 0) {
            const auto w = static_cast<std::uint32_t>(r.word);
            expected.insert(expected.end(),
                            {167, std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)});
        }
        EXPECT_EQ(wireExpecting(sp, call([&](unsigned p) { return TKAsetRatedOutput(p, r.x); }), r.word < 0 ? -1 : 0),
                  expected);
        if (r.word >= 0) {
            double back = 0;
            ASSERT_EQ(TKAgetRatedOutput(526, &back), 0);
            EXPECT_NEAR(back, r.x, r.x * 1e-12);
        }
    }
    for (double x : {0.0009, 350.01, kNaN, kInf})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetRatedOutput(p, x); }), -1).empty());
    sp.model().setFaults(sim::Faults{}.silence(162));
    EXPECT_EQ(wireExpecting(sp, call([](unsigned p) { return TKAsetRatedOutput(p, 2.0); }), -1), (Bytes{162, 0}));
}

TEST(TransmissionEdgesSensor, CapacityAndSignedExponents) {
    SimPort sp(527, LineKind::Virtual);
    ASSERT_EQ(sp.activate(), 0);
    const std::pair<double, std::uint32_t> rows[] = {
        {500.0, 0x034C4B40}, {0.1, 0x000F4240}, {9999999.0, 0x0798967F}, {1.5, 0x0116E360}};
    for (auto [x, word] : rows) {
        SCOPED_TRACE(x);
        ASSERT_EQ(TKAsetSensorCapacity(527, x), 0);
        ASSERT_TRUE(test::roundTrip(527));
        EXPECT_EQ(sp.model().reg(cmd::kGetSensorCapacity), word);
        double back = 0;
        ASSERT_EQ(TKAgetSensorCapacity(527, &back), 0);
        EXPECT_NEAR(back, x, x * 1e-12);
    }
    for (double x : {0.05, 0.0099, 10000000.0, kNaN, kInf, -kInf})
        EXPECT_TRUE(wireExpecting(sp, call([&](unsigned p) { return TKAsetSensorCapacity(p, x); }), -1).empty());
    // Exponent bytes from 0x80 up are negative: 0xFF is 10^-2.
    double v = 0;
    test::answerWith(sp, Answer{166, 0xFF0F4240});
    ASSERT_EQ(TKAgetRatedOutput(527, &v), 0);
    EXPECT_DOUBLE_EQ(v, 0.01);
    test::answerWith(sp, Answer{164, 0x801E8480});  // 10^-129 x 2
    ASSERT_EQ(TKAgetSensorCapacity(527, &v), 0);
    EXPECT_NEAR(v, 2e-129, 1e-140);

    std::int32_t second = -5;
    test::answerWith(sp, Answer{168, 0x0307});
    EXPECT_EQ(TKAgetSensorTextAssign(527, &second), 3);
    EXPECT_EQ(second, 7);
    sp.model().setFaults(sim::Faults{}.silence(168));
    second = -5;
    EXPECT_EQ(TKAgetSensorTextAssign(527, &second), -1);
    EXPECT_EQ(second, -5);
}

INSTANTIATE_TEST_SUITE_P(Lines, TransmissionEdges, ::testing::Values(LineKind::Virtual, LineKind::Pty),
                         test::lineName);

}  // namespace
}  // namespace nxtka
