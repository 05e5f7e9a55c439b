// Identification words, control word and operating modes on the wire: one
// row per export.
#include "support/wire_rows.h"

#include <cmath>
#include <limits>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::WireRow;

const unsigned char kId[3] = {0x11, 0x22, 0x33};

using test::call;

// Level 3, no option bit that changes these commands (6, 8, 9): the simulator's defaults.
const WireRow kRows[] = {
    // identification and capability words
    {"TKAgetOptions", call(TKAgetOptions), {54}, Answer{54, 0x0007C1}, 1985},
    {"TKAgetOptionsCode", call(TKAgetOptionsCode), {54}, Answer{54, 0x0007C1}, 1},
    {"TKAgetOptionsExtension3", call(TKAgetOptionsExtension3), {54}, Answer{54, 0x0007BF}, 0},
    {"TKAgetOptionsLinear", call(TKAgetOptionsLinear), {54}, Answer{54, 0x000080}, 1},
    {"TKAgetOptionsExtension21", call(TKAgetOptionsExtension21), {54}, Answer{54, 0xFFFEFF}, 0},
    {"TKAgetOptionsSleepMode", call(TKAgetOptionsSleepMode), {54}, Answer{54, 0x000200}, 1},
    {"TKAgetOptionsCommandTest", call(TKAgetOptionsCommandTest), {54}, Answer{54, 0x0003FF}, 0},
    {"NXwriteOptions", call([](unsigned p) { return NXwriteOptions(p, 0xFFFFFF); }), {55, 0xFF, 0xFF, 0xFF}, {}, 0,
     call([](unsigned p) { return NXwriteOptions(p, 0x1000000); })},
    {"NXwriteOptionsNegative", call([](unsigned p) { return NXwriteOptions(p, 0x123456); }), {55, 0x12, 0x34, 0x56},
     {}, 0, call([](unsigned p) { return NXwriteOptions(p, -1); })},
    {"TKAgetEquipment", call(TKAgetEquipment), {41}, Answer{41, 0xA5}, 165},
    {"TKAhasLCD", call(TKAhasLCD), {41}, Answer{41, 0x01}, 1},
    {"TKAhasADC", call(TKAhasADC), {41}, Answer{41, 0xFD}, 0},
    {"TKAhasUII", call(TKAhasUII), {41}, Answer{41, 0x04}, 1},
    {"TKAisSI", call(TKAisSI), {41}, Answer{41, 0x08}, 1},
    {"TKAisWL", call(TKAisWL), {41}, Answer{41, 0xEF}, 0},
    {"TKAhasAF", call(TKAhasAF), {41}, Answer{41, 0x20}, 1},
    {"NXwriteEquipment", call([](unsigned p) { return NXwriteEquipment(p, 255); }), {40, 0xFF}, {}, 0,
     call([](unsigned p) { return NXwriteEquipment(p, 256); })},
    {"TKAfirmwareVersion", call(TKAfirmwareVersion), {43}, Answer{43, 0x0F02}, 3842},
    // control word, gain, polarity, channel, frequency
    {"TKAgetControl", call(TKAgetControl), {3}, Answer{3, 0x1C1028}, 0x1C1028},
    {"TKAwriteControl", call([](unsigned p) { return TKAwriteControl(p, 0x7F123456); }), {7, 0x12, 0x34, 0x56}},
    {"TKAisBipol", call(TKAisBipol), {3}, Answer{3, 0x1C1028}, 0},
    {"TKAsetBipolar", call(TKAsetBipolar), {20}},
    {"TKAsetUnipolar", call(TKAsetUnipolar), {21}},
    {"TKAgetGain", call(TKAgetGain), {3}, Answer{3, 0x1C1028}, 7},
    {"TKAsetGain", call([](unsigned p) { return TKAsetGain(p, 7); }), {19, 7}, {}, 0,
     call([](unsigned p) { return TKAsetGain(p, 8); })},
    {"TKAsetGainNegative", call([](unsigned p) { return TKAsetGain(p, 0); }), {19, 0}, {}, 0,
     call([](unsigned p) { return TKAsetGain(p, -1); })},
    {"TKAgetChannel", call(TKAgetChannel), {65}, Answer{65, 1}, 1},
    {"TKAsetChannel", call([](unsigned p) { return TKAsetChannel(p, 0x102); }), {34, 0x02}},
    {"TKAgetFreq", call(TKAgetFreq), {22}, Answer{22, 16767216}, 500.0},
    // 19531.25 / 1000 = 19.53 -> 20; 19531.25 / 1100 = 17.76 -> 18, below 19
    {"TKAsetFreq", call([](unsigned p) { return TKAsetFreq(p, 1000.0); }), {18, 0, 20}, {}, 0,
     call([](unsigned p) { return TKAsetFreq(p, 1100.0); })},
    // 19531.25 / 9.765625 = 2000, the largest divisor
    {"TKAsetFreqNaN", call([](unsigned p) { return TKAsetFreq(p, 9.765625); }), {18, 0x07, 0xD0}, {}, 0,
     call([](unsigned p) { return TKAsetFreq(p, std::numeric_limits<double>::quiet_NaN()); })},
    // operating modes, lock, switch
    {"TKAgetMode", call(TKAgetMode), {39}, Answer{39, 0x41}, 0x41},
    {"TKAsetMode", call([](unsigned p) { return TKAsetMode(p, 0xA5); }), {38, 0xA5}, {}, 0,
     call([](unsigned p) { return TKAsetMode(p, 256); })},
    {"TKAgetModeSI", call(TKAgetModeSI), {39}, Answer{39, 0x01}, 1},
    {"TKAgetModeText", call(TKAgetModeText), {39}, Answer{39, 0xFD}, 0},
    {"TKAgetModeMax", call(TKAgetModeMax), {39}, Answer{39, 0x04}, 1},
    {"TKAgetModeLog", call(TKAgetModeLog), {39}, Answer{39, 0x08}, 1},
    {"TKAgetModeWindow", call(TKAgetModeWindow), {39}, Answer{39, 0xEF}, 0},
    {"TKAgetModeAverage", call(TKAgetModeAverage), {39}, Answer{39, 0x20}, 1},
    {"TKAgetModeLinear", call(TKAgetModeLinear), {39}, Answer{39, 0x40}, 1},
    {"TKAgetModeLock", call(TKAgetModeLock), {39}, Answer{39, 0x80}, 1},
    {"TKAsetModeSI", call([](unsigned p) { return TKAsetModeSI(p, 1); }), {39, 38, 0x41}, Answer{39, 0x40}},
    {"TKAsetModeText", call([](unsigned p) { return TKAsetModeText(p, 1); }), {39, 38, 0x43}, Answer{39, 0x41}},
    {"TKAsetModeMax", call([](unsigned p) { return TKAsetModeMax(p, 7); }), {39, 38, 0x45}, Answer{39, 0x41}},
    {"TKAsetModeLog", call([](unsigned p) { return TKAsetModeLog(p, 0); }), {39, 38, 0xF7}, Answer{39, 0xFF}},
    {"TKAsetModeWindow", call([](unsigned p) { return TKAsetModeWindow(p, 0); }), {39, 38, 0xEF}, Answer{39, 0xFF}},
    {"TKAsetModeAverage", call([](unsigned p) { return TKAsetModeAverage(p, -1); }), {39, 38, 0x20}, Answer{39, 0}},
    {"TKAsetModeLinear", call([](unsigned p) { return TKAsetModeLinear(p, 0); }), {39, 38, 0x01}, Answer{39, 0x41}},
    {"NXsetModeLock", call([](unsigned p) { return NXsetModeLock(p, 0, kId); }), {146, 0x11, 0x22, 0x33}, {}, 0,
     call([](unsigned p) { return NXsetModeLock(p, 1, nullptr); })},
    {"NXsendID", call([](unsigned p) { return NXsendID(p, kId); }), {25, 0x11, 0x22, 0x33}, {}, 0,
     call([](unsigned p) { return NXsendID(p, nullptr); })},
    {"TKAswitch", call([](unsigned p) { return TKAswitch(p, 5); }), {29, 1}},
    {"TKAswitchOff", call([](unsigned p) { return TKAswitch(p, 0); }), {29, 0}},
};

class MeasurementWire : public ::testing::TestWithParam<WireRow> {};

TEST_P(MeasurementWire, GoodCallSendsItsBytesBadCallNothing) { test::checkRowOnActivePort(301, GetParam()); }

TEST_P(MeasurementWire, FailsOnAPortThatIsNotActive) { test::checkRowOnInactivePort(302, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, MeasurementWire, ::testing::ValuesIn(kRows), test::rowName);

}  // namespace
}  // namespace nxtka
