// Adjustment, thresholds, bridge and input range, device queries, range table
// and display on the wire: one row per export.
#include "support/wire_rows.h"

#include <limits>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::WireRow;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using test::call;

// One output of a getter with two outputs; -1 when the getter failed.
template <class Get>
test::Call upperOf(Get get) {
    return [get](unsigned p) { double u = 0, l = 0; return get(p, &u, &l) == 0 ? u : -1.0; };
}
template <class Get>
test::Call lowerOf(Get get) {
    return [get](unsigned p) { double u = 0, l = 0; return get(p, &u, &l) == 0 ? l : -1.0; };
}
test::Call rangeValueOf(unsigned first, unsigned second) {
    return [=](unsigned p) { double v = -99; return TKAgetRanges(p, first, second, &v) >= 0 ? v : -1.0; };
}

// Level 3, bipolar (the simulator's defaults); display point 1, norm 5250020.
const WireRow kRows[] = {
    // adjustment values and procedures
    {"TKAgetScale", call(TKAgetScale), {1}, Answer{1, 0x123456}, 0x123456},
    {"TKAgetZero", call(TKAgetZero), {2}, Answer{2, 0xABCDEF}, 0xABCDEF},
    {"TKAgetOffset", call(TKAgetOffset), {4}, Answer{4, 0xFFFF}, 0xFFFF},
    {"TKAwriteScale", call([](unsigned p) { return TKAwriteScale(p, 0x7F123456); }), {5, 0x12, 0x34, 0x56}},
    {"TKAwriteZero", call([](unsigned p) { return TKAwriteZero(p, -1); }), {6, 0xFF, 0xFF, 0xFF}},
    {"TKAwriteOffset", call([](unsigned p) { return TKAwriteOffset(p, 0x12345); }), {8, 0x23, 0x45}},
    {"TKAgetAll", call([](unsigned p) { return TKAgetAll(p, 0x103); }), {9, 0x03}},
    {"TKAsaveAll", call([](unsigned p) { return TKAsaveAll(p, 2); }), {10, 2}},
    {"TKAresetStatus", call(TKAresetStatus), {0}},
    // procedure, marker, request for a value; the amplifier comes back
    {"TKAsetCal", call(TKAsetCal), {11, 4, 59}, {}, 1},
    {"TKAsetZero", call(TKAsetZero), {12, 4, 59}, {}, 1},
    {"TKAsetScale", call(TKAsetScale), {13, 4, 59}, {}, 1},
    {"TKAsetOffset", call(TKAsetOffset), {14, 4, 59}, {}, 1},
    // 16777215 / 2 = 8388607.5 -> 8388608; 0.9999999 is below the smallest factor
    {"NXsetCal", call([](unsigned p) { return NXsetCal(p, 2.0); }), {23, 0x80, 0x00, 0x00}, {}, 0,
     call([](unsigned p) { return NXsetCal(p, 0.9999999); })},
    // 16777215 / 1e8 rounds to a divisor of 0, which cannot be read back
    {"NXsetCalHuge", call([](unsigned p) { return NXsetCal(p, 1.0); }), {23, 0xFF, 0xFF, 0xFF}, {}, 0,
     call([](unsigned p) { return NXsetCal(p, 1e8); })},
    {"NXsetCalInfinite", call([](unsigned p) { return NXsetCal(p, 16777215.0 / 3.0); }), {23, 0x00, 0x00, 0x03}, {},
     0, call([](unsigned p) { return NXsetCal(p, kInf); })},
    {"NXgetCal", call(NXgetCal), {24}, Answer{24, 0x800000}, 1.99999988079071044921875},
    // 0.0031 / 0.0062 = 0.5 -> 1; 1.585 / 0.0062 = 255.6 -> 256
    {"NXsetOffsetWait", call([](unsigned p) { return NXsetOffsetWait(p, 0.0031); }), {52, 1}, {}, 0,
     call([](unsigned p) { return NXsetOffsetWait(p, 1.585); })},
    {"NXsetOffsetWaitNaN", call([](unsigned p) { return NXsetOffsetWait(p, 0.0); }), {52, 0}, {}, 0,
     call([](unsigned p) { return NXsetOffsetWait(p, kNaN); })},
    {"NXgetOffsetWait", call(NXgetOffsetWait), {53}, Answer{53, 255}, 1.581},
    // thresholds, bipolar: raw = round(x / (2.1 / 65536)) + 32768
    {"TKAsetThreshold", call([](unsigned p) { return TKAsetThreshold(p, 1.05, -1.05); }), {32, 0xFF, 0xFF, 0, 0}, {},
     0, call([](unsigned p) { return TKAsetThreshold(p, 0.3, 0.3); })},
    {"TKAsetThresholdNaN", call([](unsigned p) { return TKAsetThreshold(p, 0.0, -1.05); }), {32, 0x80, 0, 0, 0}, {},
     0, call([](unsigned p) { return TKAsetThreshold(p, 0.5, kNaN); })},
    {"TKAgetThresholdUpper", upperOf(TKAgetThreshold), {33}, Answer{33, 0xC0004000}, 0.525,
     call([](unsigned p) { double l = 0; return TKAgetThreshold(p, nullptr, &l); })},
    {"TKAgetThresholdLower", lowerOf(TKAgetThreshold), {33}, Answer{33, 0xC0004000}, -0.525,
     call([](unsigned p) { double u = 0; return TKAgetThreshold(p, &u, nullptr); })},
    {"TKAsetSecondThreshold", call([](unsigned p) { return TKAsetSecondThreshold(p, 0.525, -0.525); }),
     {67, 0xC0, 0x00, 0x40, 0x00}, {}, 0, call([](unsigned p) { return TKAsetSecondThreshold(p, 1e300, 0.0); })},
    {"TKAgetSecondThresholdUpper", upperOf(TKAgetSecondThreshold), {68}, Answer{68, 0xFFFF0000},
     1.0499679565429687, call([](unsigned p) { return TKAgetSecondThreshold(p, nullptr, nullptr); })},
    {"TKAgetSecondThresholdLower", lowerOf(TKAgetSecondThreshold), {68}, Answer{68, 0xFFFF0000}, -1.05},
    // bridge, gage factor, Poisson ratio, input range below level 5
    {"TKAgetBridge", call(TKAgetBridge), {49}, Answer{49, 0x15}, 0x15},
    {"TKAsetBridge", call([](unsigned p) { return TKAsetBridge(p, 255); }), {48, 0xFF}, {}, 0,
     call([](unsigned p) { return TKAsetBridge(p, 256); })},
    {"TKAgetBridgeType", call(TKAgetBridgeType), {49}, Answer{49, 0x15}, 5},
    {"TKAsetBridgeType", call([](unsigned p) { return TKAsetBridgeType(p, 2); }), {49, 48, 0x12}, Answer{49, 0x15},
     0, call([](unsigned p) { return TKAsetBridgeType(p, 8); })},
    {"TKAgetBridgeInternal", call(TKAgetBridgeInternal), {49}, Answer{49, 0x15}, 1},
    {"TKAsetBridgeInternal", call([](unsigned p) { return TKAsetBridgeInternal(p, 0); }), {49, 48, 0x05},
     Answer{49, 0x15}},
    {"TKAsetGageFactor", call([](unsigned p) { return TKAsetGageFactor(p, 2.05); }), {44, 0x00, 0xCD}, {}, 0,
     call([](unsigned p) { return TKAsetGageFactor(p, 655.355); })},
    {"TKAsetGageFactorNegative", call([](unsigned p) { return TKAsetGageFactor(p, 655.35); }), {44, 0xFF, 0xFF}, {},
     0, call([](unsigned p) { return TKAsetGageFactor(p, -0.1); })},
    {"TKAgetGageFactor", call(TKAgetGageFactor), {45}, Answer{45, 205}, 2.05},
    {"TKAsetPoisson", call([](unsigned p) { return TKAsetPoisson(p, 0.3); }), {46, 150}, {}, 0,
     call([](unsigned p) { return TKAsetPoisson(p, 0.511); })},
    {"TKAgetPoisson", call(TKAgetPoisson), {47}, Answer{47, 150}, 0.3},
    {"NXwriteRange", call([](unsigned p) { return NXwriteRange(p, 2.0); }), {50, 20}, {}, 0,
     call([](unsigned p) { return NXwriteRange(p, 25.6); })},
    {"NXwriteRangeNaN", call([](unsigned p) { return NXwriteRange(p, 25.5); }), {50, 255}, {}, 0,
     call([](unsigned p) { return NXwriteRange(p, kNaN); })},
    {"TKAgetRange", call(TKAgetRange), {51}, Answer{51, 25}, 2.5},
    {"NXwriteRanges", call([](unsigned p) { return NXwriteRanges(p, 1, 2, 0xC8); }), {163, 0x12, 0x00, 0x00, 0xC8},
     {}, 0, call([](unsigned p) { return NXwriteRanges(p, 16, 0, 0); })},
    {"NXwriteRangesValue", call([](unsigned p) { return NXwriteRanges(p, 15, 15, 0xFFFFFF); }),
     {163, 0xFF, 0xFF, 0xFF, 0xFF}, {}, 0, call([](unsigned p) { return NXwriteRanges(p, 0, 0, 0x1000000); })},
    // device queries, interface lock, range table
    {"TKAgetDeviceType", call(TKAgetDeviceType), {69}, Answer{69, 0xFE}, 254},
    {"TKAgetLastError", call(TKAgetLastError), {66}, Answer{66, 7}, 7},
    {"TKAisCommandAvailable", call([](unsigned p) { return TKAisCommandAvailable(p, 162, 163); }), {147, 163, 162},
     Answer{147, 0xA0}, 1, call([](unsigned p) { return TKAisCommandAvailable(p, 256, 1); })},
    {"TKAisCommandAvailableSwapped", call([](unsigned p) { return TKAisCommandAvailable(p, 163, 162); }),
     {147, 163, 162}, Answer{147, 0xA1}, 0, call([](unsigned p) { return TKAisCommandAvailable(p, 1, 0x100000000 - 1); })},
    {"TKAlockUII", call(TKAlockUII), {64}, Answer{64, 2}, 2},
    {"TKAunlockUII", call(TKAunlockUII), {63}},
    {"TKAgetRanges", call([](unsigned p) { double v = 0; return TKAgetRanges(p, 1, 2, &v); }), {162, 0x12},
     Answer{162, 0x01800064}, 1, call([](unsigned p) { double v = 0; return TKAgetRanges(p, 16, 0, &v); })},
    {"TKAgetRangesValue", rangeValueOf(1, 2), {162, 0x12}, Answer{162, 0x01800064}, -1.0},
    {"TKAgetRangesPositive", rangeValueOf(15, 0), {162, 0xF0}, Answer{162, 0x020000C8}, 2.0,
     call([](unsigned p) { double v = 0; return TKAgetRanges(p, 0, 16, &v); })},
    {"TKAgetRangesNullValue", call([](unsigned p) { return TKAgetRanges(p, 0, 0, nullptr); }), {162, 0x00},
     Answer{162, 0xFFFFFFFF}, 0},
    {"TKAgetRangesSpecialMinus", rangeValueOf(0, 0), {162, 0x00}, Answer{162, 0xFFFFFFFF}, -1.0},
    {"TKAgetRangesSpecialPlus", rangeValueOf(0, 1), {162, 0x01}, Answer{162, 0x80000000}, 1.0},
    {"TKAsetRanges", call([](unsigned p) { return TKAsetRanges(p, 0, 0, -2.0); }), {163, 0x00, 0x80, 0x00, 0xC8}, {},
     0, call([](unsigned p) { return TKAsetRanges(p, 0, 0, 0.004); })},
    {"TKAsetRangesLargest", call([](unsigned p) { return TKAsetRanges(p, 1, 5, 83886.07); }),
     {163, 0x15, 0x7F, 0xFF, 0xFF}, {}, 0, call([](unsigned p) { return TKAsetRanges(p, 0, 0, 100000.0); })},
    {"TKAsetRangesSelector", call([](unsigned p) { return TKAsetRanges(p, 2, 3, 0.005); }), {163, 0x23, 0, 0, 1}, {},
     0, call([](unsigned p) { return TKAsetRanges(p, -1, 0, 1.0); })},
    // display
    {"TKADispSetUnit", call([](unsigned p) { return TKADispSetUnit(p, 0x1FF); }), {15, 0xFF}},
    {"TKADispGetUnit", call(TKADispGetUnit), {27}, Answer{27, 9}, 9},
    {"TKADispSetDigits", call([](unsigned p) { return TKADispSetDigits(p, 255); }), {61, 255}, {}, 0,
     call([](unsigned p) { return TKADispSetDigits(p, 256); })},
    {"TKADispSetDigitsZero", call([](unsigned p) { return TKADispSetDigits(p, 1); }), {61, 1}, {}, 0,
     call([](unsigned p) { return TKADispSetDigits(p, 0); })},
    {"TKADispGetDigits", call(TKADispGetDigits), {62}, Answer{62, 6}, 6},
    // set, read back, drain
    {"TKADispSetDPoint", call([](unsigned p) { return TKADispSetDPoint(p, 3); }), {17, 3, 28, 4}},
    {"TKADispGetDPoint", call(TKADispGetDPoint), {28}, Answer{28, 4}, 4},
    // 2000 = 0.2 x 10^4: exponent 5, r = 0.2 x 5250020 = 1050004
    {"TKADispSetNorm", call([](unsigned p) { return TKADispSetNorm(p, 2000.0); }),
     {17, 5, 28, 16, 0x10, 0x05, 0x94, 26, 4}, {}, 0, call([](unsigned p) { return TKADispSetNorm(p, 0.15); })},
    // 1234.5: exponent 4, r = round(1.2345 x 5250020) = 6481150
    {"TKADispSetNormSmall", call([](unsigned p) { return TKADispSetNorm(p, 1234.5); }),
     {17, 4, 28, 16, 0x62, 0xE4, 0xFE, 26, 4}, {}, 0, call([](unsigned p) { return TKADispSetNorm(p, 0.005); })},
    {"TKADispGetNorm", call(TKADispGetNorm), {28, 26}, {}, 1.0},
    {"TKADispCalcNorm", call(TKADispCalcNorm), {70, 28, 26, 4}},
};

class AdjustmentRangeDisplayWire : public ::testing::TestWithParam<WireRow> {};

TEST_P(AdjustmentRangeDisplayWire, GoodCallSendsItsBytesBadCallNothing) { test::checkRowOnActivePort(401, GetParam()); }

TEST_P(AdjustmentRangeDisplayWire, FailsOnAPortThatIsNotActive) { test::checkRowOnInactivePort(402, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, AdjustmentRangeDisplayWire, ::testing::ValuesIn(kRows), test::rowName);

}  // namespace
}  // namespace nxtka
