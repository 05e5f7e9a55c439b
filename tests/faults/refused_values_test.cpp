// Values an export refuses by its documented range: -1, nothing on the wire,
// and "argument refused" as the calling thread's last failure, not a reason
// left over from an earlier call or none at all.
#include "support/sim_port.h"
#include "support/wire_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

namespace nxtka {
namespace {

using test::LineKind;
using test::SimPort;

struct RefusedRow {
    const char* name;
    std::function<double(unsigned)> call;
    std::function<void(unsigned)> prepare = nullptr;  // runs before the wire is watched
};
void PrintTo(const RefusedRow& r, std::ostream* os) { *os << r.name; }

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const RefusedRow kRefused[] = {
    // Checked through the shared integer forms.
    {"SetGainAboveSeven", [](unsigned p) { return TKAsetGain(p, 8); }},
    {"SetModeAbove255", [](unsigned p) { return TKAsetMode(p, 256); }},
    // Setters with ranges of their own.
    {"GageFactorAbove65535", [](unsigned p) { return TKAsetGageFactor(p, 700.0); }},
    {"PoissonAbove051", [](unsigned p) { return TKAsetPoisson(p, 0.6); }},
    {"CalibrationFactorBelowOne", [](unsigned p) { return NXsetCal(p, 0.5); }},
    {"OffsetWaitAbove15841", [](unsigned p) { return NXsetOffsetWait(p, 2.0); }},
    {"FrequencyNaN", [](unsigned p) { return TKAsetFreq(p, kNaN); }},
    {"ThresholdAboveScale", [](unsigned p) { return TKAsetThreshold(p, 2.0, 0.0); }},
    {"BridgeTypeEight", [](unsigned p) { return TKAsetBridgeType(p, 8); }},
    {"InputRangeHuge", [](unsigned p) { return NXwriteRange(p, 1e9); }},
    {"RangeEntrySixteen", [](unsigned p) { return NXwriteRanges(p, 16, 0, 0); }},
    {"UserOffsetAboveHalfScale", [](unsigned p) { return TKAsetUserOffset(p, 0.6); }},
    {"SensorCapacityBelowTenth", [](unsigned p) { return TKAsetSensorCapacity(p, 0.01); }},
    {"RatedOutputAbove350", [](unsigned p) { return TKAsetRatedOutput(p, 400.0); }},
    {"UserTextCell256", [](unsigned p) { return TKAsetUserTextChar(p, 256, 'a'); }},
    {"TransmissionDeltaAboveScale", [](unsigned p) { return TKAsetTransmissionDelta(p, 2.0); }},
    {"SerialSpeedNotInTable", [](unsigned p) { return TKAsetBaudRate(p, 12345); }},
    {"SpecialModeAbove65535", [](unsigned p) { return TKAsetSpecialMode(p, 65536); }},
    {"NoiseCutAboveScale", [](unsigned p) { return TKAsetNoiseCutThreshold(p, 2.0); }},
    {"AnalogFilterBelowHalf", [](unsigned p) { return TKAsetAnalogFilter(p, 0.2); }},
    {"AdaptFilterMaskOtherForm", [](unsigned p) { return TKAsetAdaptFilterMask(p, 0x123); }},
    {"AdaptFilterThresholdNegative", [](unsigned p) { return TKAsetAdaptFilterThreshold(p, -1.0); }},
    // The encoding is the amplifier's: learnt by the first sampling-rate call.
    {"SamplingFrequencyNegative", [](unsigned p) { return TKAwriteSamplingRate(p, -1.0, 1); },
     [](unsigned p) { EXPECT_GE(TKAreadSamplingFactor(p), 0); }},
    {"CanSettingIndex128", [](unsigned p) { return TKAsetCanSetting(p, 128, 0); }},
    {"CanSpeedNotInTable", [](unsigned p) { return TKAsetCanBaudRate(p, 12345); }},
    {"DisplayNormBelowMinimum", [](unsigned p) { return TKADispSetNorm(p, 0.01); }},
    // Getters whose selector is out of range.
    {"CommandCodeAbove255", [](unsigned p) { return TKAisCommandAvailable(p, 256, 0); }},
    {"RangeEntrySelectorSixteen",
     [](unsigned p) {
         double v = 0;
         return TKAgetRanges(p, 16, 0, &v);
     }},
    // Memory ranges.
    {"MemoryReadUnaligned",
     [](unsigned p) {
         std::uint8_t data[4] = {};
         return TKAreadMemory(p, 3, data, nullptr);
     }},
    {"MemoryWriteBeyondEnd", [](unsigned p) { return TKAwriteMemory(p, 1024, 0, 0, nullptr); }},
    {"MemoryCheckBeyondEnd",
     [](unsigned p) {
         std::uint8_t data[8] = {};
         return TKAcheckMemory(p, 8, 1020, data);
     }},
    {"MemoryCopyPast4GiB",
     [](unsigned p) {
         std::uint8_t data[16] = {};
         return TKAcopyMemory(p, 16, 0xFFFFFFF8u, data);
     }},
    // Linearization tables.
    {"LinearMorePointsThanATable",
     [](unsigned p) {
         LinearPoint t[1] = {};
         std::int32_t info = 0;
         return TKAcopyLinear(p, t, std::numeric_limits<std::int32_t>::min(), &info);
     }},
    {"LinearModeFour",
     [](unsigned p) {
         LinearPoint t[1] = {};
         std::int32_t info = 4;
         return TKAcopyLinear(p, t, -1, &info);
     }},
};

class RefusedValues : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedValues, FailWithArgumentRefusedAndSendNothing) {
    setSettleAfterOpenMs(0);
    sim::Config c;
    c.stream.rate = 0;
    SimPort sp(30, LineKind::Pty, c);
    ASSERT_EQ(sp.activate(16), 0);
    if (GetParam().prepare) GetParam().prepare(sp.port());
    // Leave another reason first, so that a left-over one shows.
    EXPECT_EQ(TKAmodel(31), -1);
    ASSERT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_NOT_ACTIVE);

    double result = 0;
    sp.model().clearRecord();
    result = GetParam().call(sp.port());
    const int reason = NXgetLastFailure(nullptr, 0);
    EXPECT_EQ(result, -1.0);
    EXPECT_EQ(reason, NXTKA_FAILURE_ARGUMENT);
    ASSERT_TRUE(test::roundTrip(sp.port()));
    const std::vector<std::uint8_t> only{static_cast<std::uint8_t>(cmd::kGetFirmware.code)};
    EXPECT_EQ(test::receivedBytes(sp.model()), only);
    setSettleAfterOpenMs(250);
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusedValues, ::testing::ValuesIn(kRefused),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nxtka
