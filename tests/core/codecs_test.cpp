// The codecs of the command families at their edge values. Every expected raw
// number and double was worked out by hand from the documented definition of
// the value (with the double rounding of each step where it matters).
#include "core/codecs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <limits>
#include <optional>
#include <vector>

namespace nxtka::codec {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const Raw kRefused = std::nullopt;
constexpr double kUnipolarStep24 = 6.258487701416016e-8;  // 1.05 / 2^24

struct Row {
    double x;
    Raw raw;
};

struct PolarRow {
    bool bipolar;
    double x;
    Raw raw;
};

struct DecodeRow {
    std::uint32_t raw;
    double value;
};

struct PolarDecodeRow {
    bool bipolar;
    std::uint32_t raw;
    double value;
};

::testing::Message traceOf(double x) {
    return ::testing::Message() << std::setprecision(17) << "x = " << x;
}

void expectEncodes(const std::function<Raw(double)>& encode, const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE(traceOf(r.x));
        EXPECT_EQ(encode(r.x), r.raw);
    }
}

void expectEncodes(const std::function<Raw(double, bool)>& encode, const std::vector<PolarRow>& rows) {
    for (const PolarRow& r : rows) {
        SCOPED_TRACE(traceOf(r.x) << (r.bipolar ? " bipolar" : " unipolar"));
        EXPECT_EQ(encode(r.x, r.bipolar), r.raw);
    }
}

void expectDecodes(const std::function<double(std::uint32_t)>& decode, const std::vector<DecodeRow>& rows) {
    for (const DecodeRow& r : rows) {
        SCOPED_TRACE(::testing::Message() << "raw = 0x" << std::hex << r.raw);
        EXPECT_DOUBLE_EQ(decode(r.raw), r.value);
    }
}

void expectDecodes(const std::function<double(std::uint32_t, bool)>& decode,
                   const std::vector<PolarDecodeRow>& rows) {
    for (const PolarDecodeRow& r : rows) {
        SCOPED_TRACE(::testing::Message() << "raw = 0x" << std::hex << r.raw << (r.bipolar ? " bipolar" : " unipolar"));
        EXPECT_DOUBLE_EQ(decode(r.raw, r.bipolar), r.value);
    }
}

TEST(Codecs, RoundHalfAwayFromZero) {
    const struct {
        double x, rounded;
    } rows[] = {
        {0.5, 1.0},   {-0.5, -1.0}, {1.5, 2.0},     {2.5, 3.0},   {-2.5, -3.0},
        {2.4999, 2.0}, {-2.4999, -2.0}, {0.0, 0.0}, {1e300, 1e300},
        // Added then truncated: 0.49999999999999994 + 0.5 is the double 1.0.
        {0.49999999999999994, 1.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(traceOf(r.x));
        EXPECT_EQ(roundHalfAway(r.x), r.rounded);
    }
    EXPECT_TRUE(std::isnan(roundHalfAway(kNaN)));
}

TEST(Codecs, ToRawRefusesBeforeAnyCast) {
    const struct {
        double x;
        std::uint32_t max;
        Raw raw;
    } rows[] = {
        {0.0, 255, 0u},
        {-0.0, 255, 0u},
        {255.49, 255, 255u},
        {255.5, 255, kRefused},
        {-0.1, 255, kRefused},  // below 0 although it would round to 0
        {-1e-300, 255, kRefused},
        {0.5, 0, kRefused},
        {65535.5, 0xFFFF, kRefused},
        {4294967295.0, 0xFFFFFFFF, 4294967295u},
        {4294967295.5, 0xFFFFFFFF, kRefused},
        {1e300, 0xFFFFFFFF, kRefused},
        {kNaN, 0xFFFFFFFF, kRefused},
        {kInf, 0xFFFFFFFF, kRefused},
        {-kInf, 0xFFFFFFFF, kRefused},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(traceOf(r.x) << " max " << r.max);
        EXPECT_EQ(toRaw(r.x, r.max), r.raw);
    }
}

TEST(Codecs, CalibrationFactorIsReciprocal) {
    const double limit = 16777215.0 / 16777215.5;
    expectEncodes(calibrationDivisor, {
                                          {1.0, 16777215u},
                                          {2.0, 8388608u},  // 8388607.5 rounds up
                                          {3.0, 5592405u},
                                          {0.9999999, kRefused},
                                          {limit, kRefused},
                                          {std::nextafter(limit, 2.0), 16777215u},  // 16777215.499999998
                                          {33554430.0, 1u},                         // R = 0.5
                                          {33554431.0, kRefused},                   // R rounds to 0
                                          {1e300, kRefused},
                                          {0.0, kRefused},
                                          {-2.0, kRefused},
                                          {kNaN, kRefused},
                                          {kInf, kRefused},
                                      });
    EXPECT_EQ(calibrationFactor(0), std::nullopt);
    expectDecodes([](std::uint32_t r) { return calibrationFactor(r).value_or(-1.0); },
                  {{8388608, 1.9999998807907104}, {16777215, 1.0}, {1, 16777215.0}});
}

TEST(Codecs, OffsetWaitInStepsOf0_0062) {
    expectEncodes(offsetWaitRaw, {
                                     {0.0, 0u},
                                     {0.0031, 1u},  // exactly 0.5 steps
                                     {0.00309, 0u},
                                     {0.0062, 1u},
                                     {1.584, 255u},
                                     {1.5841, kRefused},  // 255.5 steps
                                     {1.585, kRefused},
                                     {1.5872, kRefused},
                                     {-0.0001, kRefused},
                                     {kNaN, kRefused},
                                     {kInf, kRefused},
                                 });
    expectDecodes(offsetWait, {{0, 0.0}, {1, 0.0062}, {255, 1.581}});
}

TEST(Codecs, FrequencyDivisorOfTheControlWord) {
    const auto basic = [](double f) { return frequencyDivisor(f, false); };
    const auto extended = [](double f) { return frequencyDivisor(f, true); };
    expectEncodes(basic, {
                             {1000.0, 20u},  // 19.53125
                             {488.28125, 40u},
                             {19531.25 / 18.5, 19u},  // divisor 18.5 rounds up
                             {1055.75, kRefused},     // 18.4999
                             {1100.0, kRefused},      // 17.76
                             {9.7632, 2000u},
                             {19531.25 / 2000.5, kRefused},
                             {9.0, kRefused},
                             {-1000.0, kRefused},
                             {kNaN, kRefused},
                             {kInf, kRefused},
                         });
    expectEncodes(extended, {
                                {1000.0, 20u},
                                {1100.0, 18u},
                                {39062.5, 1u},  // 0.5 rounds up
                                {39063.0, kRefused},
                                {0.29803, 65535u},  // 65534.51
                                {19531.25 / 65535.5, kRefused},
                                {kNaN, kRefused},
                                {kInf, kRefused},
                            });
    EXPECT_EQ(controlWordFrequency(0x1C1028), 488.28125);
    EXPECT_EQ(controlWordFrequency(0x1C1000), std::nullopt);
    EXPECT_EQ(controlWordFrequency(0xFFF801), 19531.25);  // only bits 0-10
    expectDecodes(timerFrequency, {{16767216, 500.0}, {0xFFFFFF, 5000000.0}, {0, 0.2980232238769531}});
}

TEST(Codecs, SamplingFrequencyField) {
    const auto timer = [](double f) { return samplingFrequencyField(f, false); };
    const auto linear = [](double f) { return samplingFrequencyField(f, true); };
    expectEncodes(timer, {
                             {76.29336324033173, kRefused},
                             {76.2934, 0u},  // reload 65536
                             {10000.0, 65036u},
                             {10080.0, 65040u},  // reload 496
                             {10100.0, kRefused},
                             {1e300, kRefused},  // reload 0
                             {-5.0, kRefused},
                             {kNaN, kRefused},
                             {kInf, kRefused},
                         });
    expectEncodes(linear, {
                              {0.25, 1u},
                              {0.2, kRefused},
                              {0.0, kRefused},
                              {100.0, 200u},
                              {32767.5, 65535u},
                              {32768.0, kRefused},
                              {65535.0, kRefused},
                              {-0.1, kRefused},
                              {kNaN, kRefused},
                              {kInf, kRefused},
                          });
}

TEST(Codecs, SamplingFactorField) {
    const struct {
        bool linear;
        std::int32_t factor;
        Raw field;
    } rows[] = {
        {false, 8, 3u},       {false, 1, 0u},        {false, 1 << 30, 30u},
        {false, 6, kRefused}, {false, 0, kRefused},  {false, -8, kRefused},
        {false, std::numeric_limits<std::int32_t>::min(), kRefused},
        {true, 63, 63u},      {true, 1, 1u},         {true, 64, kRefused},
        {true, 0, kRefused},  {true, -1, kRefused},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << "factor " << r.factor << (r.linear ? " linear" : " exponent"));
        EXPECT_EQ(samplingFactorField(r.factor, r.linear), r.field);
    }
}

TEST(Codecs, SamplingRateWord) {
    EXPECT_EQ(samplingRateWord(2, 0, 2), 0x800002u);
    EXPECT_EQ(samplingRateWord(3, 63, 0xFFFF), 0xFFFFFFu);
    EXPECT_EQ(samplingRateWord(1, 5, 0x1234), 0x451234u);

    const struct {
        std::uint32_t word;
        std::uint32_t protocol;
        double frequency;
        std::int32_t factor;
    } rows[] = {
        {0x800002, 2, 1.0, 1},
        {0xC0FFFF, 3, 32767.5, 0},
        {0x7FFFFF, 1, 5000000.0, 63},          // linear factor, timer frequency of F = 0xFFFF
        {0x1EFE0C, 0, 10000.0, 1 << 30},       // exponent 30, reload 500
        {0x1F0000, 0, 76.2939453125, -1},      // exponent 31
        {0x3F0000, 0, 76.2939453125, -1},      // exponent 63
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << "word 0x" << std::hex << r.word);
        EXPECT_EQ(samplingProtocolOf(r.word), r.protocol);
        EXPECT_DOUBLE_EQ(samplingFrequencyOf(r.word), r.frequency);
        EXPECT_EQ(samplingFactorOf(r.word), r.factor);
    }
}

TEST(Codecs, ThresholdLevelToRaw) {
    expectEncodes(thresholdRaw, {
                                    {false, 1.05, 65535u},  // 65536 clamped
                                    {false, 1.0499999, 65535u},
                                    {false, 0.5, 31208u},
                                    {false, 0.0, 0u},
                                    {false, -0.0000001, 0u},  // rounds to 0
                                    {false, -0.001, kRefused},
                                    {false, -0.5, kRefused},
                                    {false, 1.0500001, kRefused},
                                    {false, 1.2, kRefused},
                                    {false, 1e5, kRefused},
                                    {false, 1e300, kRefused},
                                    {false, kNaN, kRefused},
                                    {false, kInf, kRefused},
                                    {false, -kInf, kRefused},
                                    {true, 0.0, 32768u},
                                    {true, 0.5, 48372u},
                                    {true, -1.05, 0u},
                                    {true, 1.05, 65535u},  // 65536 clamped
                                    {true, -1.0500001, 0u},
                                    {true, -1.06, kRefused},
                                    {true, 1e5, kRefused},
                                    {true, -1e300, kRefused},
                                    {true, kNaN, kRefused},
                                    {true, -kInf, kRefused},
                                });
}

TEST(Codecs, ThresholdPair) {
    const struct {
        bool bipolar;
        double upper, lower;
        Raw word;
    } rows[] = {
        {false, 1.05, 0.0, 0xFFFF0000u},
        {false, 0.5, -0.0000001, 0x79E80000u},
        {false, 0.5, -0.001, kRefused},
        {false, 0.3, 0.3, kRefused},
        {false, 0.3, 0.3 + 0.4 * 1.6021728515625e-5, kRefused},  // same raw number
        {false, 0.3, 0.31, kRefused},
        {true, 0.0, -1.05, 0x80000000u},
        {true, 1.05, -1.05, 0xFFFF0000u},
        {true, kNaN, 0.0, kRefused},
        {true, 0.5, kNaN, kRefused},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << std::setprecision(17) << r.upper << " / " << r.lower
                                          << (r.bipolar ? " bipolar" : " unipolar"));
        EXPECT_EQ(thresholdPair(r.upper, r.lower, r.bipolar), r.word);
    }
}

TEST(Codecs, ThresholdRawToLevel) {
    expectDecodes(thresholdLevel, {
                                      {true, 0x8000, 0.0},
                                      {true, 0x0000, -1.05},
                                      {true, 0xFFFF, 1.0499679565429688},
                                      {false, 0xFFFF, 1.0499839782714844},
                                      {false, 0x0000, 0.0},
                                      {false, 0x8000, 0.525},
                                  });
}

TEST(Codecs, TransmissionDeltaRefusesAbove24Bits) {
    expectEncodes(transmissionDeltaRaw, {
                                            {false, 1.05, kRefused},  // 16777216
                                            {false, 1.0, 15978301u},
                                            {false, 0.0, 0u},
                                            {false, -0.0000001, kRefused},
                                            {false, -1e-9, kRefused},  // below 0, though it rounds to 0
                                            {false, kNaN, kRefused},
                                            {false, kInf, kRefused},
                                            {true, -1.05, 0u},
                                            {true, 0.0, 0x800000u},
                                            {true, 1.05, kRefused},  // 0x1000000
                                            {true, -1.0500001, kRefused},
                                            {true, -kInf, kRefused},
                                            {true, kNaN, kRefused},
                                        });
}

TEST(Codecs, NoiseCutClamps) {
    expectEncodes(noiseCutRaw, {
                                   {false, 1.05, 0xFFFFFFu},  // clamped
                                   {false, 1.0499999999, 0xFFFFFFu},
                                   {false, 1.06, kRefused},
                                   {false, 0.5, 7989150u},
                                   {false, -1e-9, 0u},  // rounds to 0
                                   {false, -0.001, kRefused},
                                   {false, 1e10, kRefused},
                                   {false, kNaN, kRefused},
                                   {false, kInf, kRefused},
                                   {false, -kInf, kRefused},
                                   {true, -1.05, 0u},
                                   {true, 0.0, 0x800000u},
                                   {true, 1.05, 0xFFFFFFu},
                                   {true, -1.0500001, kRefused},
                                   {true, -1.1, kRefused},
                                   {true, 1e300, kRefused},
                                   {true, kNaN, kRefused},
                               });
}

TEST(Codecs, UserOffset) {
    expectEncodes(userOffsetRaw, {
                                     {true, 0.525, 12582912u},
                                     {true, -0.525, 4194304u},
                                     {true, 0.0, 0x800000u},
                                     {true, 0.53, kRefused},
                                     {true, -0.53, kRefused},
                                     {false, 0.525, 8388608u},
                                     {false, 0.0, 0u},
                                     {false, -0.1, kRefused},
                                     {false, kNaN, kRefused},
                                     {true, kInf, kRefused},
                                 });
}

TEST(Codecs, Normalized24ToLevel) {
    expectDecodes(normalized24, {
                                    {true, 0x000000, -1.05},
                                    {true, 0x800000, 0.0},
                                    {true, 0xC00000, 0.525},
                                    {true, 0xFFFFFF, 1.049999874830246},
                                    {false, 0x800000, 0.525},
                                    {false, 15978301, 1.0000000029802323},
                                    {false, 0, 0.0},
                                });
}

TEST(Codecs, AnalogFilterInHalves) {
    expectEncodes(analogFilterWord, {
                                        {0.2, kRefused},  // word 0
                                        {0.25, 1u},
                                        {0.5, 1u},
                                        {1.0, 2u},
                                        {32767.5, 65535u},
                                        {32767.75, kRefused},  // 65535.5
                                        {32768.0, kRefused},
                                        {65535.0, kRefused},
                                        {-0.1, kRefused},
                                        {kNaN, kRefused},
                                        {kInf, kRefused},
                                    });
    expectDecodes(analogFilter, {{1, 0.5}, {65535, 32767.5}});
}

TEST(Codecs, AdaptiveThresholdRoundsUpTo2kMinus1) {
    const auto ofR = [](double r) { return r * kUnipolarStep24; };
    expectEncodes(adaptFilterMask, {
                                       {1e-9, 0xFFFF00u},
                                       {ofR(255), 0xFFFF00u},
                                       {ofR(255.5), 0xFFFE00u},
                                       {ofR(256), 0xFFFE00u},
                                       {ofR(511), 0xFFFE00u},
                                       {ofR(512), 0xFFFC00u},
                                       {ofR(1023), 0xFFFC00u},
                                       {ofR(1024), 0xFFF800u},
                                       {ofR(2047), 0xFFF800u},
                                       {ofR(2048), 0xFFF000u},
                                       {ofR(4095), 0xFFF000u},
                                       {ofR(4096), 0xFFE000u},
                                       {ofR(5000), 0xFFE000u},
                                       {ofR(8191), 0xFFE000u},
                                       {ofR(8192), 0xFFC000u},
                                       {ofR(16383), 0xFFC000u},
                                       {ofR(16384), 0xFF8000u},
                                       {ofR(32767), 0xFF8000u},
                                       {ofR(32768), 0xFF0000u},
                                       {ofR(65535), 0xFF0000u},
                                       {ofR(65536), 0xFF0000u},
                                       {1.0, 0xFF0000u},    // r = 15978301
                                       {200.0, 0xFF0000u},  // r = 3195660190, beyond 32 bits' sign
                                       {0.0, kRefused},
                                       {-1.0, kRefused},
                                       {kNaN, kRefused},
                                       {kInf, kRefused},
                                   });
    expectDecodes([](std::uint32_t m) { return adaptFilterThreshold(m).value_or(-1.0); },
                  {
                      {0xFF1200, 0xEDFF * kUnipolarStep24},
                      {0xFFE000, 8191 * kUnipolarStep24},
                      {0xFFFF00, 255 * kUnipolarStep24},
                      {0xFF0000, 65535 * kUnipolarStep24},
                  });
    for (std::uint32_t mask : {0xFFFF01u, 0xFEFF00u, 0xFFFFFFFFu, 0u}) {
        SCOPED_TRACE(::testing::Message() << "mask 0x" << std::hex << mask);
        EXPECT_EQ(adaptFilterThreshold(mask), std::nullopt);
    }
    EXPECT_TRUE(isAdaptFilterMask(0xFF1200));
    EXPECT_TRUE(isAdaptFilterMask(0xFF0000));
    EXPECT_TRUE(isAdaptFilterMask(0xFFFF00));
    EXPECT_FALSE(isAdaptFilterMask(0xFF1201));
    EXPECT_FALSE(isAdaptFilterMask(0xFE1200));
    EXPECT_FALSE(isAdaptFilterMask(0x1FF1200));
    EXPECT_FALSE(isAdaptFilterMask(-1));
}

TEST(Codecs, GageFactorPoissonAndInputRangeMultiply) {
    expectEncodes(gageFactorRaw, {
                                     {2.05, 205u},
                                     {655.35, 65535u},
                                     {655.355, kRefused},  // k x 100 = 65535.5
                                     {0.235, 24u},         // 23.5; k / 0.01 would give 23
                                     {0.0, 0u},
                                     {-0.1, kRefused},
                                     {-0.001, kRefused},
                                     {kNaN, kRefused},
                                     {kInf, kRefused},
                                 });
    expectEncodes(poissonRaw, {
                                  {0.3, 150u},
                                  {0.51, 255u},
                                  {0.511, kRefused},  // 255.5
                                  {0.043, 22u},       // 21.5; nu / 0.002 would give 21
                                  {-0.001, kRefused},
                                  {kNaN, kRefused},
                              });
    expectEncodes(inputRangeRaw, {
                                     {2.0, 20u},
                                     {25.5, 255u},
                                     {25.55, kRefused},  // 255.5
                                     {25.6, kRefused},
                                     {-0.1, kRefused},
                                     {kNaN, kRefused},
                                     {kInf, kRefused},
                                 });
    expectDecodes(gageFactor, {{205, 2.05}, {65535, 655.35}});
    expectDecodes(poisson, {{150, 0.3}, {255, 0.51}});
    expectDecodes(inputRange, {{20, 2.0}, {255, 25.5}});
}

TEST(Codecs, SignAndMagnitudeHundredths) {
    expectEncodes(signMagnitudeHundredths, {
                                               {-2.0, 0x8000C8u},
                                               {2.0, 0x0000C8u},
                                               {0.005, 1u},
                                               {-0.005, 0x800001u},
                                               {0.004, kRefused},  // 0 hundredths
                                               {-0.004, kRefused},
                                               {0.0, kRefused},
                                               {83886.07, 0x7FFFFFu},
                                               {-83886.07, 0xFFFFFFu},
                                               {83886.08, kRefused},
                                               {100000.0, kRefused},  // 10000000 hundredths
                                               {-100000.0, kRefused},
                                               {100000.01, kRefused},
                                               {kNaN, kRefused},
                                               {kInf, kRefused},
                                               {-kInf, kRefused},
                                           });
    expectDecodes(fromSignMagnitudeHundredths,
                  {{0x8000C8, -2.0}, {0x0000C8, 2.0}, {0x7FFFFF, 83886.07}, {0xFFFFFF, -83886.07}, {0, 0.0}});
}

TEST(Codecs, RangeTableAnswer) {
    const struct {
        std::uint32_t answer;
        std::int32_t status;
        double value;
    } rows[] = {
        {0x01800064, 1, -1.0}, {0x020000C8, 2, 2.0},    {0xFFFFFFFF, 0, -1.0},
        {0x80000000, 0, 1.0},  {0x81000064, 0, 1.0},    {0x7F7FFFFF, 127, 83886.07},
        {0x00800000, 0, 0.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << "answer 0x" << std::hex << r.answer);
        const RangeEntry e = rangeEntry(r.answer);
        EXPECT_EQ(e.status, r.status);
        EXPECT_DOUBLE_EQ(e.value, r.value);
    }
}

TEST(Codecs, SensorCapacityDecimalExponent) {
    expectEncodes(sensorCapacityWord, {
                                          {500.0, 0x034C4B40u},
                                          {0.1, 0x000F4240u},
                                          {1.0, 0x010F4240u},
                                          {1234.5, 0x0412D644u},
                                          {9999999.0, 0x0798967Fu},
                                          {0.05, kRefused},  // exponent byte -1
                                          {0.01, kRefused},
                                          {0.0099, kRefused},
                                          {9999999.5, kRefused},
                                          {-5.0, kRefused},
                                          {kNaN, kRefused},
                                          {kInf, kRefused},
                                      });
}

TEST(Codecs, RatedOutputTakesTheRangeExponent) {
    const struct {
        double x, range;
        Raw word;
    } rows[] = {
        {2.0, 2.5, 0x011E8480u},
        {2.0, -2.5, 0x011E8480u},
        {2.0, 10.0, 0x02030D40u},
        {8.238095, 10.0, 0x020C9202u},  // 823809.5 millionths, divided first, then multiplied
        {2.0, 0.5, kRefused},  // M = 20000000
        {0.005, 0.05, 0xFF07A120u},  // exponent byte -1
        {0.01, 2.5, 0x01002710u},
        {0.0099, 2.5, kRefused},  // M = 9900
        {350.0, 100.0, 0x033567E0u},
        {350.0, 10.0, kRefused},
        {350.1, 1000.0, kRefused},
        {0.0009, 0.001, kRefused},
        {2.0, 0.0, kRefused},
        {2.0, kNaN, kRefused},
        {2.0, kInf, kRefused},
        {kNaN, 2.5, kRefused},
        {kInf, 2.5, kRefused},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << std::setprecision(17) << r.x << " in range " << r.range);
        EXPECT_EQ(ratedOutputWord(r.x, r.range), r.word);
    }
}

TEST(Codecs, DecimalExponentWithSignedExponentByte) {
    expectDecodes(decimalExponentValue, {
                                            {0x034C4B40, 500.0},
                                            {0x011E8480, 2.0},
                                            {0x000F4240, 0.1},
                                            {0x0798967F, 9999999.0},
                                            {0xFF07A120, 0.005},
                                            {0xFF0F4240, 0.01},
                                            {0x80000001, 1e-135},
                                            {0x7F000001, 1e120},
                                        });
}

TEST(Codecs, DisplayNorm) {
    const struct {
        double norm;
        std::optional<std::int32_t> exponent;
        std::uint32_t mantissa;
    } rows[] = {
        {2000.0, 5, 1050004},  {1234.5, 4, 6481150},  {0.5, 1, 2625010},
        {0.16, 1, 840003},     {1.0, 1, 5250020},     {1.5872380952380953, 2, 833303},
        {100000.0, 6, 5250020}, {200000.0, 7, 1050004},
        {0.15, std::nullopt, 0}, {0.01, std::nullopt, 0}, {0.005, std::nullopt, 0},
        {-1.0, std::nullopt, 0}, {kNaN, std::nullopt, 0}, {kInf, std::nullopt, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(traceOf(r.norm));
        const auto code = displayNormCode(r.norm);
        ASSERT_EQ(code.has_value(), r.exponent.has_value());
        if (code) {
            EXPECT_EQ(code->exponent, *r.exponent);
            EXPECT_EQ(code->mantissa, r.mantissa);
        }
    }
    EXPECT_DOUBLE_EQ(displayNorm(5, 1050004), 2000.0);
    EXPECT_DOUBLE_EQ(displayNorm(6, 5250020), 100000.0);
    EXPECT_DOUBLE_EQ(displayNorm(1, 2625010), 0.5);
    EXPECT_DOUBLE_EQ(displayNorm(4, 6481150), 1234.500059047394);
}

TEST(Codecs, LinearizationPointsAlwaysBipolar) {
    const double step16 = 3.204345703125e-5;
    expectEncodes(linearPoint16, {
                                     {0.0, 32768u},
                                     {-1.05, 0u},
                                     {1.05, kRefused},  // 65536
                                     {(65535.49 - 32768) * step16, 65535u},
                                     {(65535.5 - 32768) * step16, kRefused},
                                     {(-0.49 - 32768) * step16, 0u},
                                     {(-0.5 - 32768) * step16, kRefused},
                                     {1.2, kRefused},  // 70217
                                     {kNaN, kRefused},
                                     {kInf, kRefused},
                                     {-kInf, kRefused},
                                 });
    expectDecodes(fromLinearPoint16, {{0, -1.05}, {32768, 0.0}, {65535, 1.0499679565429688}});
    expectEncodes(linearPoint24, {
                                     {0.0, 0x800000u},
                                     {-1.05, 0u},
                                     {0.525, 0xC00000u},
                                     {1.05, kRefused},
                                     {2.0, kRefused},
                                     {kNaN, kRefused},
                                 });
    expectDecodes(fromLinearPoint24, {{0, -1.05}, {0xC00000, 0.525}, {0x800000, 0.0}});
}

TEST(Codecs, LinearizationSlopes) {
    const struct {
        std::uint32_t x1, y1, x2, y2;
        Raw three, four;
    } rows[] = {
        {0, 0, 2, 1, 0x020000u, 0x2000000u},
        {0, 0, 3, 1, 87381u, 22369621u},
        {0, 0, 1, 0, 0u, 0u},
        {0, 0, 524288, 8388606, 0x3FFFFFu, 0x3FFFFF00u},
        {0, 0, 524288, 8388607, kRefused, 0x3FFFFF80u},  // 3 bytes: 4194303.5
        {0, 0, 1, 16, kRefused, kRefused},
        {0, 0, 2, 33, kRefused, kRefused},  // 16.5
        {0, 0, 1, 20, kRefused, kRefused},
        {0, 10, 1, 5, kRefused, kRefused},  // y falling: unsigned difference
        {0xFFFFFFFF, 0, 0, 1, 0x040000u, 0x4000000u},  // x difference 1, unsigned
        {5, 5, 5, 5, kRefused, kRefused},  // 0 / 0
        {0, 0, 0, 5, kRefused, kRefused},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << "(" << r.x1 << "," << r.y1 << ") to (" << r.x2 << "," << r.y2 << ")");
        EXPECT_EQ(linearSlope3(r.x1, r.y1, r.x2, r.y2), r.three);
        EXPECT_EQ(linearSlope4(r.x1, r.y1, r.x2, r.y2), r.four);
    }
}

TEST(Codecs, LinearizationRecordByte) {
    expectEncodes(linearRecordByte, {
                                        {0.0, 0u},
                                        {-1.0, 0xFFu},
                                        {127.0, 0x7Fu},
                                        {127.4, 0x7Fu},
                                        {127.5, kRefused},
                                        {-128.0, 0x80u},
                                        {-128.4, 0x80u},
                                        {-128.5, kRefused},
                                        {128.5, kRefused},
                                        {-129.5, kRefused},
                                        {kNaN, kRefused},
                                        {kInf, kRefused},
                                    });
}

}  // namespace
}  // namespace nxtka::codec
