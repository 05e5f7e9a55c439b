// Sampling rate, transmission modes, special modes, filters, CAN, sensor and
// user data on the wire: one row per export.
#include "support/wire_rows.h"

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::WireRow;

using test::call;

int readRate(unsigned p) {
    double f = 0;
    std::int32_t e = 0;
    return TKAreadSamplingRate(p, &f, &e);
}
int readDouble(unsigned p, int (*getter)(uint32_t, double*)) {
    double v = 0;
    return getter(p, &v);
}

// Level 3, no option bit that changes these commands (6, 8, 9), bipolar: the simulator's defaults.
const WireRow kRows[] = {
    // sampling rate; the first call of a session reads the protocol (139)
    // timer 5000000 / 10000 = 500 -> F = 65036 = 0xFE0C; factor 8 -> E = 3.
    // 10100: reload 495, F = 65041 beyond 0xFE10.
    {"TKAwriteSamplingRate", call([](unsigned p) { return TKAwriteSamplingRate(p, 10000.0, 8); }),
     {139, 138, 0x03, 0xFE, 0x0C}, Answer{139, 0x000000}, 0,
     call([](unsigned p) { return TKAwriteSamplingRate(p, 10100.0, 8); })},
    {"TKAreadSamplingRate", call(readRate), {139}, Answer{139, 0x800002}, 0,
     call([](unsigned p) { return TKAreadSamplingRate(p, nullptr, nullptr); })},
    {"TKAreadSamplingFrequency", call(TKAreadSamplingFrequency), {139}, Answer{139, 0x800002}, 1.0},
    {"TKAreadSamplingFactor", call(TKAreadSamplingFactor), {139}, Answer{139, 0x430000}, 3},
    {"TKAisSamplingFrequencyProtocolLinear", call(TKAisSamplingFrequencyProtocolLinear), {139},
     Answer{139, 0x800000}, 1},
    {"TKAisSamplingFactorProtocolLinear", call(TKAisSamplingFactorProtocolLinear), {139}, Answer{139, 0x800000}, 0},
    // transmission modes and rates
    {"TKAsetTxMode", call([](unsigned p) { return TKAsetTxMode(p, 255); }), {128, 0xFF}, {}, 0,
     call([](unsigned p) { return TKAsetTxMode(p, 256); })},
    {"TKAsetTxModeNegative", call([](unsigned p) { return TKAsetTxMode(p, 0); }), {128, 0x00}, {}, 0,
     call([](unsigned p) { return TKAsetTxMode(p, -1); })},
    {"TKAgetTxMode", call(TKAgetTxMode), {129}, Answer{129, 0x23}, 35},
    {"TKAgetTxModeConfig", call(TKAgetTxModeConfig), {129}, Answer{129, 0x01}, 1},
    {"TKAsetTxModeTransmit4", call([](unsigned p) { return TKAsetTxModeTransmit4(p, 1); }), {129, 128, 0x23},
     Answer{129, 0x21}},
    {"TKAsetTxModeRepeat3", call([](unsigned p) { return TKAsetTxModeRepeat3(p, 9); }), {129, 128, 0x04},
     Answer{129, 0x00}},
    {"TKAsetTxModeTransmit5", call([](unsigned p) { return TKAsetTxModeTransmit5(p, 0); }), {129, 128, 0xF7},
     Answer{129, 0xFF}},
    {"TKAsetTxModeReadOnly", call([](unsigned p) { return TKAsetTxModeReadOnly(p, 1); }), {129, 128, 0x33},
     Answer{129, 0x23}},
    {"TKAgetTxModeTransmit4", call(TKAgetTxModeTransmit4), {129}, Answer{129, 0x02}, 1},
    {"TKAgetTxModeRepeat3", call(TKAgetTxModeRepeat3), {129}, Answer{129, 0xFB}, 0},
    {"TKAgetTxModeTransmit5", call(TKAgetTxModeTransmit5), {129}, Answer{129, 0x08}, 1},
    {"TKAgetTxModeReadOnly", call(TKAgetTxModeReadOnly), {129}, Answer{129, 0x10}, 1},
    {"TKAsetBaud", call([](unsigned p) { return TKAsetBaud(p, 11); }), {130, 11}, {}, 0,
     call([](unsigned p) { return TKAsetBaud(p, 256); })},
    {"TKAgetBaud", call(TKAgetBaud), {131}, Answer{131, 5}, 5},
    {"TKAsetBaudRate", call([](unsigned p) { return TKAsetBaudRate(p, 115200); }), {130, 5}, {}, 0,
     call([](unsigned p) { return TKAsetBaudRate(p, 100000); })},
    {"TKAgetBaudRate", call(TKAgetBaudRate), {131}, Answer{131, 9}, 230400},
    {"TKAsetSlowRate", call([](unsigned p) { return TKAsetSlowRate(p, 65535); }), {134, 0xFF, 0xFF}, {}, 0,
     call([](unsigned p) { return TKAsetSlowRate(p, 65536); })},
    {"TKAsetSlowRateZero", call([](unsigned p) { return TKAsetSlowRate(p, 1); }), {134, 0x00, 0x01}, {}, 0,
     call([](unsigned p) { return TKAsetSlowRate(p, 0); })},
    {"TKAgetSlowRate", call(TKAgetSlowRate), {135}, Answer{135, 0x1234}, 4660},
    // bipolar: 0 -> 0x800000; 1.05 -> 0x1000000, beyond 24 bits
    {"TKAsetTransmissionDelta", call([](unsigned p) { return TKAsetTransmissionDelta(p, 0.0); }),
     {156, 0x80, 0x00, 0x00}, {}, 0, call([](unsigned p) { return TKAsetTransmissionDelta(p, 1.05); })},
    {"TKAgetTransmissionDelta", call([](unsigned p) { return readDouble(p, TKAgetTransmissionDelta); }), {157},
     Answer{157, 0xC00000}, 0, call([](unsigned p) { return TKAgetTransmissionDelta(p, nullptr); })},
    // special modes (no sleep option: the kept bit stays 0)
    {"TKAsetSpecialMode", call([](unsigned p) { return TKAsetSpecialMode(p, 0xFFFF); }), {136, 0xFF, 0xBF}, {}, 0,
     call([](unsigned p) { return TKAsetSpecialMode(p, 0x10000); })},
    {"TKAsetSpecialModeNegative", call([](unsigned p) { return TKAsetSpecialMode(p, 0x0041); }), {136, 0x00, 0x01},
     {}, 0, call([](unsigned p) { return TKAsetSpecialMode(p, -1); })},
    {"TKAgetSpecialMode", call(TKAgetSpecialMode), {137}, Answer{137, 0x8041}, 0x8001},
    {"TKAsetSpecialModeSlow", call([](unsigned p) { return TKAsetSpecialModeSlow(p, 0); }), {137, 136, 0x00, 0x02},
     Answer{137, 0x0003}},
    {"TKAsetSpecialModeAverage", call([](unsigned p) { return TKAsetSpecialModeAverage(p, 0); }),
     {137, 136, 0x00, 0x01}, Answer{137, 0x0003}},
    {"TKAsetSpecialModeFilter", call([](unsigned p) { return TKAsetSpecialModeFilter(p, 1); }),
     {137, 136, 0x00, 0x04}, Answer{137, 0x0000}},
    {"TKAsetSpecialModeMax", call([](unsigned p) { return TKAsetSpecialModeMax(p, 1); }), {137, 136, 0x00, 0x08},
     Answer{137, 0x0000}},
    {"TKAsetSpecialModeFilterAuto", call([](unsigned p) { return TKAsetSpecialModeFilterAuto(p, 1); }),
     {137, 136, 0x00, 0x10}, Answer{137, 0x0000}},
    {"TKAsetSpecialModeFilterOrder5", call([](unsigned p) { return TKAsetSpecialModeFilterOrder5(p, 2); }),
     {137, 136, 0x00, 0x20}, Answer{137, 0x0000}},
    {"TKAsetSpecialModeAutoZero", call([](unsigned p) { return TKAsetSpecialModeAutoZero(p, 1); }),
     {137, 136, 0x40, 0x01}, Answer{137, 0x0041}},
    {"TKAsetSpecialModeNoiseCut", call([](unsigned p) { return TKAsetSpecialModeNoiseCut(p, 1); }),
     {137, 136, 0x80, 0x03}, Answer{137, 0x0003}},
    {"TKAgetSpecialModeSlow", call(TKAgetSpecialModeSlow), {137}, Answer{137, 0x0001}, 1},
    {"TKAgetSpecialModeAverage", call(TKAgetSpecialModeAverage), {137}, Answer{137, 0xFFFD}, 0},
    {"TKAgetSpecialModeFilter", call(TKAgetSpecialModeFilter), {137}, Answer{137, 0x0004}, 1},
    {"TKAgetSpecialModeMax", call(TKAgetSpecialModeMax), {137}, Answer{137, 0x0008}, 1},
    {"TKAgetSpecialModeFilterAuto", call(TKAgetSpecialModeFilterAuto), {137}, Answer{137, 0xFFEF}, 0},
    {"TKAgetSpecialModeFilterOrder5", call(TKAgetSpecialModeFilterOrder5), {137}, Answer{137, 0x0020}, 1},
    {"TKAgetSpecialModeAutoZero", call(TKAgetSpecialModeAutoZero), {137}, Answer{137, 0x4000}, 1},
    {"TKAgetSpecialModeNoiseCut", call(TKAgetSpecialModeNoiseCut), {137}, Answer{137, 0x7FFF}, 0},
    {"TKAsetSpecialModeSleep", call([](unsigned p) { return TKAsetSpecialModeSleep(p, 1); }), {}, {}, 0},
    {"TKAgetSpecialModeSleep", call(TKAgetSpecialModeSleep), {}, {}, 0},
    {"TKAsetAutoZeroCounter", call([](unsigned p) { return TKAsetAutoZeroCounter(p, 65535); }), {150, 0xFF, 0xFF},
     {}, 0, call([](unsigned p) { return TKAsetAutoZeroCounter(p, 0); })},
    {"TKAsetAutoZeroCounterWide", call([](unsigned p) { return TKAsetAutoZeroCounter(p, 1); }), {150, 0x00, 0x01},
     {}, 0, call([](unsigned p) { return TKAsetAutoZeroCounter(p, 65536); })},
    {"TKAgetAutoZeroCounter", call(TKAgetAutoZeroCounter), {151}, Answer{151, 0xABCD}, 43981},
    {"TKAsetNoiseCutThreshold", call([](unsigned p) { return TKAsetNoiseCutThreshold(p, 0.0); }),
     {148, 0x80, 0x00, 0x00}, {}, 0, call([](unsigned p) { return TKAsetNoiseCutThreshold(p, -1.1); })},
    // (0x400000 - 0x800000) x 1.05 / 2^23
    {"TKAgetNoiseCutThreshold", call(TKAgetNoiseCutThreshold), {149}, Answer{149, 0x400000}, -0.525},
    // filters
    {"TKAsetAnalogFilter", call([](unsigned p) { return TKAsetAnalogFilter(p, 32767.5); }), {144, 0xFF, 0xFF}, {}, 0,
     call([](unsigned p) { return TKAsetAnalogFilter(p, 32768.0); })},
    {"TKAsetAnalogFilterSmall", call([](unsigned p) { return TKAsetAnalogFilter(p, 0.25); }), {144, 0x00, 0x01}, {},
     0, call([](unsigned p) { return TKAsetAnalogFilter(p, 0.2); })},
    {"TKAgetAnalogFilter", call(TKAgetAnalogFilter), {145}, Answer{145, 3}, 1.5},
    {"TKAsetAdaptFilterLearnVals", call([](unsigned p) { return TKAsetAdaptFilterLearnVals(p, 65535); }),
     {160, 0xFF, 0xFF}, {}, 0, call([](unsigned p) { return TKAsetAdaptFilterLearnVals(p, -1); })},
    {"TKAgetAdaptFilterLearnVals", call(TKAgetAdaptFilterLearnVals), {161}, Answer{161, 100}, 100},
    {"TKAsetAdaptFilterMask", call([](unsigned p) { return TKAsetAdaptFilterMask(p, 0xFF1200); }),
     {158, 0xFF, 0x12, 0x00}, {}, 0, call([](unsigned p) { return TKAsetAdaptFilterMask(p, 0xFF1201); })},
    {"TKAgetAdaptFilterMask", call(TKAgetAdaptFilterMask), {159}, Answer{159, 0xFFE000}, 0xFFE000},
    {"TKAsetAdaptFilterThreshold", call([](unsigned p) { return TKAsetAdaptFilterThreshold(p, 1e-9); }),
     {158, 0xFF, 0xFF, 0x00}, {}, 0, call([](unsigned p) { return TKAsetAdaptFilterThreshold(p, 0.0); })},
    {"TKAgetAdaptFilterThreshold", call([](unsigned p) { return readDouble(p, TKAgetAdaptFilterThreshold); }), {159},
     Answer{159, 0xFF1200}, 0, call([](unsigned p) { return TKAgetAdaptFilterThreshold(p, nullptr); })},
    // CAN
    {"TKAsetCanSetting", call([](unsigned p) { return TKAsetCanSetting(p, 0x81, 5); }), {140, 0x81, 0x00, 0x05}, {},
     0, call([](unsigned p) { return TKAsetCanSetting(p, 0x80, 5); })},
    {"TKAsetCanSettingValue", call([](unsigned p) { return TKAsetCanSetting(p, 0xFF, 0xFFFF); }),
     {140, 0xFF, 0xFF, 0xFF}, {}, 0, call([](unsigned p) { return TKAsetCanSetting(p, 0x01, 0x10000); })},
    {"TKAgetCanSetting", call([](unsigned p) { return TKAgetCanSetting(p, 0x17E); }), {141, 0x7E},
     Answer{141, 0xBEEF}, 0xBEEF},
    {"TKAsetCanBaud", call([](unsigned p) { return TKAsetCanBaud(p, 8); }), {140, 126, 0x00, 0x08}, {}, 0,
     call([](unsigned p) { return TKAsetCanBaud(p, 0); })},
    {"TKAgetCanBaud", call(TKAgetCanBaud), {141, 126}, Answer{141, 5}, 5},
    {"TKAsetCanBaudRate", call([](unsigned p) { return TKAsetCanBaudRate(p, 125000); }), {140, 126, 0x00, 0x05}, {},
     0, call([](unsigned p) { return TKAsetCanBaudRate(p, 83334); })},
    {"TKAgetCanBaudRate", call(TKAgetCanBaudRate), {141, 126}, Answer{141, 3}, 83333},
    {"TKAsetCanID", call([](unsigned p) { return TKAsetCanID(p, 3, 0x12345678); }),
     {140, 0x03, 0x56, 0x78, 140, 0x83, 0x12, 0x34}, {}, 0,
     call([](unsigned p) { return TKAsetCanID(p, 0x80, 1); })},
    {"TKAgetCanID", call([](unsigned p) { return TKAgetCanID(p, 0x83); }), {141, 0x03, 141, 0x83},
     Answer{141, 0x1234}, 0x12341234},
    {"TKAisCanAvailable", call(TKAisCanAvailable), {141, 127}, Answer{141, 0x0003}, 1},
    {"TKAsetCanActive", call([](unsigned p) { return TKAsetCanActive(p, 0); }), {141, 127, 140, 127, 0x00, 0x01},
     Answer{141, 0x0003}},
    {"TKAgetCanActive", call(TKAgetCanActive), {141, 127}, Answer{141, 0x0002}, 1},
    {"TKAsetCanMode20B", call([](unsigned p) { return TKAsetCanMode20B(p, 1); }), {141, 255, 140, 255, 0x00, 0x01},
     Answer{141, 0x0000}},
    {"TKAgetCanMode20B", call(TKAgetCanMode20B), {141, 255}, Answer{141, 0xFFFE}, 0},
    // sensor and user data
    {"TKAsetUserTextChar", call([](unsigned p) { return TKAsetUserTextChar(p, 255, 0x141); }), {152, 0xFF, 0x41}, {},
     0, call([](unsigned p) { return TKAsetUserTextChar(p, 256, 65); })},
    {"TKAsetUserText", call([](unsigned p) { return TKAsetUserText(p, "AB"); }),
     {152, 0, 0, 152, 1, 'B', 152, 0, 'A'}},
    // bipolar: 0.525 / (1.05 / 2^23) + 0x800000 = 0xC00000
    {"TKAsetUserOffset", call([](unsigned p) { return TKAsetUserOffset(p, 0.525); }), {154, 0xC0, 0x00, 0x00}, {}, 0,
     call([](unsigned p) { return TKAsetUserOffset(p, 0.53); })},
    {"TKAgetUserOffset", call([](unsigned p) { return readDouble(p, TKAgetUserOffset); }), {155},
     Answer{155, 0x800000}, 0, call([](unsigned p) { return TKAgetUserOffset(p, nullptr); })},
    // 500 = 5 x 10^2: E = 3, M = 5000000 = 0x4C4B40
    {"TKAsetSensorCapacity", call([](unsigned p) { return TKAsetSensorCapacity(p, 500.0); }),
     {165, 0x03, 0x4C, 0x4B, 0x40}, {}, 0, call([](unsigned p) { return TKAsetSensorCapacity(p, 0.05); })},
    {"TKAgetSensorCapacity", call([](unsigned p) { return readDouble(p, TKAgetSensorCapacity); }), {164},
     Answer{164, 0x034C4B40}, 0, call([](unsigned p) { return TKAgetSensorCapacity(p, nullptr); })},
    // range 2.5 (status 1, 250 hundredths): e = 0, E = 1, M = 2000000 = 0x1E8480
    {"TKAsetRatedOutput", call([](unsigned p) { return TKAsetRatedOutput(p, 2.0); }),
     {162, 0x00, 167, 0x01, 0x1E, 0x84, 0x80}, Answer{162, 0x010000FA}, 0,
     call([](unsigned p) { return TKAsetRatedOutput(p, 0.0009); })},
    {"TKAgetRatedOutput", call([](unsigned p) { return readDouble(p, TKAgetRatedOutput); }), {166},
     Answer{166, 0x011E8480}, 0, call([](unsigned p) { return TKAgetRatedOutput(p, nullptr); })},
    {"TKAgetSensorTextAssign", call([](unsigned p) { return TKAgetSensorTextAssign(p, nullptr); }), {168},
     Answer{168, 0x0307}, 3},
};

class TransmissionWire : public ::testing::TestWithParam<WireRow> {};

TEST_P(TransmissionWire, GoodCallSendsItsBytesBadCallNothing) { test::checkRowOnActivePort(501, GetParam()); }

TEST_P(TransmissionWire, FailsOnAPortThatIsNotActive) { test::checkRowOnInactivePort(502, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, TransmissionWire, ::testing::ValuesIn(kRows), test::rowName);

}  // namespace
}  // namespace nxtka
