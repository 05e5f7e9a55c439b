#include "settings.h"

#include "nxtka.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace nxtka_cli {

Reading textReading(std::int32_t result, const char* buffer, std::size_t size) {
    if (result != 0) return {Outcome::failed, {}, {}, {}};
    const std::string_view value(buffer, strnlen(buffer, size));
    return {Outcome::ok, printableText(value), std::string(value), {}};
}

std::string exactText(std::string_view value, std::size_t size) {
    if (value.size() != size)
        throw ToolError("'" + std::string(value) + "' has " + std::to_string(value.size()) + " characters, not " +
                            std::to_string(size),
                        2);
    return std::string(value);
}

std::string formatDecimal(std::int64_t v) { return std::to_string(v); }

namespace {

std::string hexWithDecimal(std::int64_t v, int digits) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "0x%0*llX (%lld)", digits, static_cast<unsigned long long>(v),
                  static_cast<long long>(v));
    return buf;
}

Outcome setTransmit(std::uint32_t port, std::string_view value, bool apply) {
    const bool on = parseSwitch(value);
    if (!apply) return Outcome::ok;
    return outcomeOf(on ? TKAstartTransmit(port) : TKAstopTransmit(port));
}

Outcome setPolarity(std::uint32_t port, std::string_view value, bool apply) {
    if (value != "bipolar" && value != "unipolar")
        throw ToolError("polarity is bipolar or unipolar, not '" + std::string(value) + "'", 2);
    if (!apply) return Outcome::ok;
    return outcomeOf(value == "bipolar" ? TKAsetBipolar(port) : TKAsetUnipolar(port));
}

Outcome setMaxValue(std::uint32_t port, std::string_view value, bool apply) {
    parseInteger(value, 0, 0);
    if (!apply) return Outcome::ok;
    return outcomeOf(TKAclearMaxValue(port));
}

Reading realThrough(std::int32_t (*get)(std::uint32_t, double*), std::uint32_t port) {
    double v = 0;
    if (get(port, &v) != 0) return {Outcome::failed, {}, {}, {}};
    return {Outcome::ok, formatReal(v), v, {}};
}
Reading getDelta(std::uint32_t port) { return realThrough(TKAgetTransmissionDelta, port); }
Reading getAdaptThreshold(std::uint32_t port) { return realThrough(TKAgetAdaptFilterThreshold, port); }
Reading getUserOffset(std::uint32_t port) { return realThrough(TKAgetUserOffset, port); }
Reading getCapacity(std::uint32_t port) { return realThrough(TKAgetSensorCapacity, port); }
Reading getRatedOutput(std::uint32_t port) { return realThrough(TKAgetRatedOutput, port); }

Reading getRate(std::uint32_t port) {
    double frequency = 0;
    std::int32_t factor = 0;
    if (TKAreadSamplingRate(port, &frequency, &factor) != 0) return {Outcome::failed, {}, {}, {}};
    return {Outcome::ok, formatReal(frequency) + " Hz, factor " + std::to_string(factor), frequency, "Hz"};
}

Outcome setRate(std::uint32_t port, std::string_view value, bool apply) {
    const double frequency = parseNumber(value);
    if (!apply) return Outcome::ok;
    const std::int32_t factor = TKAreadSamplingFactor(port);
    return outcomeOf(TKAwriteSamplingRate(port, frequency, factor > 0 ? factor : 1));
}

Outcome setUserText(std::uint32_t port, std::string_view value, bool apply) {
    if (!apply) return Outcome::ok;
    const std::string text(value);
    return outcomeOf(TKAsetUserText(port, text.c_str()));
}

// One row per setting.
constexpr Setting kSettings[] = {
    {"model", "protocol level", NXTKA_GET(TKAmodel, formatDecimal), NXTKA_NO_SET,
     "protocol level of the amplifier, learned at activation"},
    {"baud", "line speed", NXTKA_GET(TKAgetLocalBaudRate, formatBaud), NXTKA_NO_SET,
     "line speed of the computer's serial port"},
    {"received", nullptr, NXTKA_GET(TKAreceived, formatDecimal), NXTKA_NO_SET,
     "values waiting in the library's buffer"},
    {"transmit", nullptr, NXTKA_NO_GET, "TKAstartTransmit/TKAstopTransmit", setTransmit,
     "value stream on or off (on/off)"},
    {"max-value", nullptr, NXTKA_NO_GET, "TKAclearMaxValue", setMaxValue,
     "0 clears the amplifier's stored maximum"},
    {"firmware", "firmware", NXTKA_GET(TKAfirmwareVersion, formatFirmware), NXTKA_NO_SET,
     "firmware version"},
    {"options", "options", NXTKA_GET(TKAgetOptions, decodeOptions), NXTKA_SET_INT(NXwriteOptions, 0, 0xFFFFFF),
     "options word, decoded (factory setting)"},
    {"equipment", "equipment", NXTKA_GET(TKAgetEquipment, decodeEquipment),
     NXTKA_SET_INT(NXwriteEquipment, 0, 255), "equipment word, decoded (factory setting)"},
    {"serial", "serial number", NXTKA_GET_TEXT(TKAgetSerialNo, 8), NXTKA_SET_TEXT(NXwriteSerialNo, 8),
     "serial number, 8 characters (factory setting)"},
    {"device-type", "device type", NXTKA_GET(TKAgetDeviceType, formatDecimal), NXTKA_NO_SET, "device type"},
    {"last-error", nullptr, NXTKA_GET(TKAgetLastError, formatDecimal), NXTKA_NO_SET,
     "the amplifier's last error code"},
    {"control", nullptr, NXTKA_GET(TKAgetControl, decodeControl), NXTKA_SET_INT(TKAwriteControl, 0, 0xFFFFFF),
     "control word (gain, polarity, channel, frequency divisor), decoded"},
    {"gain", nullptr, NXTKA_GET(TKAgetGain, formatDecimal), NXTKA_SET_INT(TKAsetGain, 0, 7), "gain step, 0 to 7"},
    {"polarity", nullptr, NXTKA_GET(TKAisBipol, formatPolarity), "TKAsetBipolar/TKAsetUnipolar", setPolarity,
     "input polarity (bipolar/unipolar)"},
    {"channel", nullptr, NXTKA_GET(TKAgetChannel, formatDecimal), NXTKA_SET_INT(TKAsetChannel, 0, 255),
     "input channel"},
    {"frequency", nullptr, NXTKA_GET(TKAgetFreq, formatReal), NXTKA_SET_REAL(TKAsetFreq), "sampling frequency, Hz"},
    {"sampling-frequency", nullptr, NXTKA_GET(TKAreadSamplingFrequency, formatReal), NXTKA_NO_SET,
     "sampling frequency from the sampling-rate word, Hz"},
    {"mode", nullptr, NXTKA_GET(TKAgetMode, decodeMode), NXTKA_SET_INT(TKAsetMode, 0, 255),
     "operating mode byte, decoded"},
    {"mode-si", nullptr, NXTKA_GET(TKAgetModeSI, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeSI), "mode flag SI (on/off)"},
    {"mode-text", nullptr, NXTKA_GET(TKAgetModeText, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeText),
     "mode flag text (on/off)"},
    {"mode-max", nullptr, NXTKA_GET(TKAgetModeMax, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeMax),
     "mode flag maximum (on/off)"},
    {"mode-log", nullptr, NXTKA_GET(TKAgetModeLog, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeLog),
     "mode flag log (on/off)"},
    {"mode-window", nullptr, NXTKA_GET(TKAgetModeWindow, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeWindow),
     "mode flag window (on/off)"},
    {"mode-average", nullptr, NXTKA_GET(TKAgetModeAverage, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeAverage),
     "mode flag average (on/off)"},
    {"mode-linear", nullptr, NXTKA_GET(TKAgetModeLinear, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeLinear),
     "mode flag linearization (on/off)"},
    {"mode-lock", nullptr, NXTKA_GET(TKAgetModeLock, formatOnOff), NXTKA_NO_SET,
     "mode flag settings lock (read only here)"},
    {"switch", nullptr, NXTKA_NO_GET, NXTKA_SET_SWITCH(TKAswitch), "the amplifier's switch (on/off)"},
    {"tx-mode", nullptr, NXTKA_GET(TKAgetTxMode, decodeTxMode), NXTKA_SET_INT(TKAsetTxMode, 0, 255),
     "transmission mode byte, decoded"},
    {"amp-baud", nullptr, NXTKA_GET(TKAgetBaudRate, formatBaud), NXTKA_SET_INT(TKAsetBaudRate, 1, 0x7FFFFFFF),
     "the amplifier's line speed (reactivate with --baud afterwards)"},
    {"slow-rate", nullptr, NXTKA_GET(TKAgetSlowRate, formatDecimal), NXTKA_SET_INT(TKAsetSlowRate, 1, 65535),
     "slow transmission rate"},
    {"special-mode", nullptr, NXTKA_GET(TKAgetSpecialMode, decodeSpecialMode),
     NXTKA_SET_INT(TKAsetSpecialMode, 0, 65535), "special-mode word, decoded (bit 6: sleep at release)"},
    {"sleep", nullptr, NXTKA_GET(TKAgetSpecialModeSleep, formatOnOff), NXTKA_SET_SWITCH(TKAsetSpecialModeSleep),
     "sleep after release (on/off; on needs the sleep option)"},
    {"auto-zero-counter", nullptr, NXTKA_GET(TKAgetAutoZeroCounter, formatDecimal),
     NXTKA_SET_INT(TKAsetAutoZeroCounter, 1, 65535), "auto-zero counter"},
    {"noise-cut", nullptr, NXTKA_GET(TKAgetNoiseCutThreshold, formatReal), NXTKA_SET_REAL(TKAsetNoiseCutThreshold),
     "noise-cut threshold, normalized (1.05 end of scale)"},
    {"delta", nullptr, "TKAgetTransmissionDelta", getDelta, NXTKA_SET_REAL(TKAsetTransmissionDelta),
     "transmission delta, normalized (1.05 end of scale)"},
    {"rate", nullptr, "TKAreadSamplingRate", getRate, "TKAwriteSamplingRate", setRate,
     "sampling rate: frequency in Hz (the factor is kept), encoded as the amplifier's protocol needs"},
    {"learn-values", nullptr, NXTKA_GET(TKAgetAdaptFilterLearnVals, formatDecimal),
     NXTKA_SET_INT(TKAsetAdaptFilterLearnVals, 0, 65535), "adaptive filter: learn values"},
    {"adapt-mask", nullptr, NXTKA_GET(TKAgetAdaptFilterMask, formatHex24),
     NXTKA_SET_INT(TKAsetAdaptFilterMask, 0xFF0000, 0xFFFF00), "adaptive filter: mask 0xFFxx00"},
    {"adapt-threshold", nullptr, "TKAgetAdaptFilterThreshold", getAdaptThreshold,
     NXTKA_SET_REAL(TKAsetAdaptFilterThreshold), "adaptive filter: threshold, normalized"},
    {"can-baud", nullptr, NXTKA_GET(TKAgetCanBaudRate, formatBaud), NXTKA_SET_INT(TKAsetCanBaudRate, 1, 1000000),
     "CAN bit rate"},
    {"can-active", nullptr, NXTKA_GET(TKAgetCanActive, formatOnOff), NXTKA_SET_SWITCH(TKAsetCanActive),
     "CAN interface active (on/off)"},
    {"can-20b", nullptr, NXTKA_GET(TKAgetCanMode20B, formatOnOff), NXTKA_SET_SWITCH(TKAsetCanMode20B),
     "CAN 2.0B mode, 29-bit identifiers (on/off)"},
    {"user-offset", nullptr, "TKAgetUserOffset", getUserOffset, NXTKA_SET_REAL(TKAsetUserOffset),
     "user offset, normalized"},
    {"user-text", nullptr, NXTKA_NO_GET, "TKAsetUserText", setUserText, "user text, up to 256 characters"},
    {"capacity", nullptr, "TKAgetSensorCapacity", getCapacity, NXTKA_SET_REAL(TKAsetSensorCapacity),
     "sensor capacity"},
    {"rated-output", nullptr, "TKAgetRatedOutput", getRatedOutput, NXTKA_SET_REAL(TKAsetRatedOutput),
     "sensor rated output (takes the input range's exponent)"},
    {"analog-filter", nullptr, NXTKA_GET(TKAgetAnalogFilter, formatReal), NXTKA_SET_REAL(TKAsetAnalogFilter),
     "analog filter"},
    {"gage-factor", nullptr, NXTKA_GET(TKAgetGageFactor, formatReal), NXTKA_SET_REAL(TKAsetGageFactor),
     "strain-gauge factor"},
    {"poisson", nullptr, NXTKA_GET(TKAgetPoisson, formatReal), NXTKA_SET_REAL(TKAsetPoisson), "Poisson ratio"},
    {"bridge", nullptr, NXTKA_GET(TKAgetBridge, formatHex8), NXTKA_SET_INT(TKAsetBridge, 0, 255), "bridge word"},
    {"bridge-type", nullptr, NXTKA_GET(TKAgetBridgeType, formatDecimal), NXTKA_SET_INT(TKAsetBridgeType, 0, 7),
     "bridge type, 0 to 7"},
    {"bridge-internal", nullptr, NXTKA_GET(TKAgetBridgeInternal, formatOnOff), NXTKA_SET_SWITCH(TKAsetBridgeInternal),
     "internal bridge (on/off)"},
    {"range", nullptr, NXTKA_GET(TKAgetRange, formatReal), NXTKA_SET_REAL(NXwriteRange), "input range"},
    {"scale", nullptr, NXTKA_GET(TKAgetScale, formatHex24), NXTKA_SET_INT(TKAwriteScale, 0, 0xFFFFFF),
     "scale value (raw)"},
    {"zero", nullptr, NXTKA_GET(TKAgetZero, formatHex24), NXTKA_SET_INT(TKAwriteZero, 0, 0xFFFFFF),
     "zero value (raw)"},
    {"offset", nullptr, NXTKA_GET(TKAgetOffset, formatHex16), NXTKA_SET_INT(TKAwriteOffset, 0, 0xFFFF),
     "offset value (raw)"},
    {"cal", nullptr, NXTKA_GET(NXgetCal, formatReal), NXTKA_SET_REAL(NXsetCal), "calibration factor"},
    {"offset-wait", nullptr, NXTKA_GET(NXgetOffsetWait, formatReal), NXTKA_SET_REAL(NXsetOffsetWait),
     "offset waiting time, s"},
    {"display-unit", nullptr, NXTKA_GET(TKADispGetUnit, formatDecimal), NXTKA_SET_INT(TKADispSetUnit, 0, 255),
     "unit code of the display"},
    {"display-digits", nullptr, NXTKA_GET(TKADispGetDigits, formatDecimal),
     NXTKA_SET_INT(TKADispSetDigits, 1, 255), "digits of the display"},
    {"display-point", nullptr, NXTKA_GET(TKADispGetDPoint, formatDecimal), NXTKA_SET_INT(TKADispSetDPoint, 0, 255),
     "decimal exponent of the display"},
    {"display-norm", nullptr, NXTKA_GET(TKADispGetNorm, formatReal), NXTKA_SET_REAL(TKADispSetNorm),
     "display normalization"},
};

}  // namespace

std::string formatHex8(std::int64_t v) { return hexWithDecimal(v, 2); }
std::string formatHex16(std::int64_t v) { return hexWithDecimal(v, 4); }
std::string formatHex24(std::int64_t v) { return hexWithDecimal(v, 6); }
std::string formatBaud(std::int64_t v) { return std::to_string(v) + " bit/s"; }

std::string formatReal(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::span<const Setting> settingsTable() { return kSettings; }

const Setting* findSetting(std::string_view name) {
    for (const Setting& s : kSettings)
        if (name == s.name) return &s;
    return nullptr;
}

const Setting& settingNamed(std::string_view name) {
    const Setting* s = findSetting(name);
    if (s == nullptr) throw ToolError("unknown setting '" + std::string(name) + "' (nxtka list shows them)", 2);
    return *s;
}

}  // namespace nxtka_cli
