// The rows of the setting table: one per setting, with its functions, unit,
// the values it takes and a line of meaning.
#include "nxtka.h"
#include "settings.h"

namespace nxtka_cli {
namespace {

Outcome setTransmit(std::uint32_t port, std::string_view value, bool apply) {
    const bool on = parseSwitch(value);
    if (!apply) return Outcome::ok;
    return outcomeOf(on ? TKAstartTransmit(port) : TKAstopTransmit(port));
}

Outcome setPolarity(std::uint32_t port, std::string_view value, bool apply) {
    if (value != "bipolar" && value != "unipolar")
        throw ToolError("polarity is bipolar or unipolar, not '" + std::string(value) + "'", kExitUsage);
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
    if (get(port, &v) != 0) return {};
    return {Outcome::ok, formatReal(v), v, {}, {}};
}
Reading getDelta(std::uint32_t port) { return realThrough(TKAgetTransmissionDelta, port); }
Reading getAdaptThreshold(std::uint32_t port) { return realThrough(TKAgetAdaptFilterThreshold, port); }
Reading getUserOffset(std::uint32_t port) { return realThrough(TKAgetUserOffset, port); }
Reading getCapacity(std::uint32_t port) { return realThrough(TKAgetSensorCapacity, port); }
Reading getRatedOutput(std::uint32_t port) { return realThrough(TKAgetRatedOutput, port); }

Reading getRate(std::uint32_t port) {
    double frequency = 0;
    std::int32_t factor = 0;
    if (TKAreadSamplingRate(port, &frequency, &factor) != 0) return {};
    return {Outcome::ok, formatReal(frequency) + " Hz, factor " + std::to_string(factor), frequency, {}, {}};
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

constexpr const char* kOnOff = "on, off";
constexpr const char* kReadOnly = "read only";

constexpr Setting kSettings[] = {
    {"model", "protocol level", NXTKA_GET(TKAmodel, formatDecimal), NXTKA_NO_SET, "", kReadOnly,
     "protocol level of the amplifier, learned at activation"},
    {"baud", "line speed", NXTKA_GET(TKAgetLocalBaudRate, formatBaud), NXTKA_NO_SET, "bit/s", kReadOnly,
     "line speed of the computer's serial port (--baud)"},
    {"received", nullptr, NXTKA_GET(TKAreceived, formatDecimal), NXTKA_NO_SET, "", kReadOnly,
     "1 while values wait in the library's buffer, 0 when none"},
    {"transmit", nullptr, NXTKA_NO_GET, "TKAstartTransmit/TKAstopTransmit", setTransmit, "", kOnOff,
     "the amplifier's value stream on or off"},
    {"max-value", nullptr, NXTKA_NO_GET, "TKAclearMaxValue", setMaxValue, "", "0",
     "0 clears the amplifier's stored maximum"},
    {"firmware", "firmware", NXTKA_GET(TKAfirmwareVersion, formatFirmware), NXTKA_NO_SET, "", kReadOnly,
     "firmware version"},
    {"options", "options", NXTKA_GET(TKAgetOptions, decodeOptions), NXTKA_SET_INT(NXwriteOptions, 0, 0xFFFFFF), "",
     "0 to 0xFFFFFF", "options word, decoded (factory setting)"},
    {"equipment", "equipment", NXTKA_GET(TKAgetEquipment, decodeEquipment), NXTKA_SET_INT(NXwriteEquipment, 0, 255),
     "", "0 to 255", "equipment word, decoded (factory setting)"},
    {"serial", "serial number", NXTKA_GET_TEXT(TKAgetSerialNo, 8), NXTKA_SET_TEXT(NXwriteSerialNo, 8), "",
     "exactly 8 characters", "serial number (factory setting)"},
    {"device-type", "device type", NXTKA_GET(TKAgetDeviceType, formatDecimal), NXTKA_NO_SET, "", kReadOnly,
     "device type, 0 to 255"},
    {"last-error", nullptr, NXTKA_GET(TKAgetLastError, formatDecimal), NXTKA_NO_SET, "", kReadOnly,
     "the amplifier's last error code"},
    {"control", nullptr, NXTKA_GET(TKAgetControl, decodeControl), NXTKA_SET_INT(TKAwriteControl, 0, 0xFFFFFF), "",
     "0 to 0xFFFFFF", "control word: gain, polarity, channel, frequency divisor, decoded"},
    {"gain", nullptr, NXTKA_GET(TKAgetGain, formatDecimal), NXTKA_SET_INT(TKAsetGain, 0, 7), "", "0 to 7",
     "gain step"},
    {"polarity", nullptr, NXTKA_GET(TKAisBipol, formatPolarity), "TKAsetBipolar/TKAsetUnipolar", setPolarity, "",
     "bipolar, unipolar", "input polarity; values convert with it"},
    {"channel", nullptr, NXTKA_GET(TKAgetChannel, formatDecimal), NXTKA_SET_INT(TKAsetChannel, 0, 255), "",
     "0 to 255", "input channel"},
    {"frequency", nullptr, NXTKA_GET(TKAgetFreq, formatReal), NXTKA_SET_REAL(TKAsetFreq), "Hz",
     "9.77 to 1055 (divisor 2000 to 19); 0.3 to 39062.5 with the extended divisor (option bit 6)",
     "sampling frequency of the control word: 19531.25 / divisor (not the sampling-rate word: see rate)"},
    {"sampling-frequency", nullptr, NXTKA_GET(TKAreadSamplingFrequency, formatReal), NXTKA_NO_SET, "Hz", kReadOnly,
     "the frequency field of the sampling-rate word alone (rate reads and sets it with its factor)"},
    {"rate", nullptr, "TKAreadSamplingRate", getRate, "TKAwriteSamplingRate", setRate, "Hz",
     "0.5 to 32767.5 in steps of 0.5 (linear protocol) or 76.3 to about 10090 (timer protocol)",
     "sampling-rate word: frequency and factor; set writes the frequency and keeps the factor"},
    {"mode", nullptr, NXTKA_GET(TKAgetMode, decodeMode), NXTKA_SET_INT(TKAsetMode, 0, 255), "", "0 to 255",
     "operating mode byte, decoded"},
    {"mode-si", nullptr, NXTKA_GET(TKAgetModeSI, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeSI), "", kOnOff,
     "mode flag SI (bit 0)"},
    {"mode-text", nullptr, NXTKA_GET(TKAgetModeText, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeText), "", kOnOff,
     "mode flag text (bit 1)"},
    {"mode-max", nullptr, NXTKA_GET(TKAgetModeMax, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeMax), "", kOnOff,
     "mode flag maximum (bit 2)"},
    {"mode-log", nullptr, NXTKA_GET(TKAgetModeLog, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeLog), "", kOnOff,
     "mode flag log (bit 3)"},
    {"mode-window", nullptr, NXTKA_GET(TKAgetModeWindow, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeWindow), "", kOnOff,
     "mode flag window (bit 4)"},
    {"mode-average", nullptr, NXTKA_GET(TKAgetModeAverage, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeAverage), "",
     kOnOff, "mode flag average (bit 5)"},
    {"mode-linear", nullptr, NXTKA_GET(TKAgetModeLinear, formatOnOff), NXTKA_SET_SWITCH(TKAsetModeLinear), "",
     kOnOff, "mode flag linearization (bit 6)"},
    {"mode-lock", nullptr, NXTKA_GET(TKAgetModeLock, formatOnOff), NXTKA_NO_SET, "", kReadOnly,
     "mode flag settings lock (bit 7)"},
    {"switch", nullptr, NXTKA_NO_GET, NXTKA_SET_SWITCH(TKAswitch), "", kOnOff, "switches the amplifier on or off"},
    {"tx-mode", nullptr, NXTKA_GET(TKAgetTxMode, decodeTxMode), NXTKA_SET_INT(TKAsetTxMode, 0, 255), "", "0 to 255",
     "transmission mode byte, decoded"},
    {"amp-baud", nullptr, NXTKA_GET(TKAgetBaudRate, formatBaud), NXTKA_SET_INT(TKAsetBaudRate, 1, 0x7FFFFFFF),
     "bit/s", "4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600, 250000, 625000, 1250000",
     "the amplifier's own line speed (activate again with --baud afterwards)", false},
    {"slow-rate", nullptr, NXTKA_GET(TKAgetSlowRate, formatDecimal), NXTKA_SET_INT(TKAsetSlowRate, 1, 65535), "",
     "1 to 65535", "slow transmission rate"},
    {"special-mode", nullptr, NXTKA_GET(TKAgetSpecialMode, decodeSpecialMode),
     NXTKA_SET_INT(TKAsetSpecialMode, 0, 65535), "", "0 to 65535",
     "special-mode word, decoded (bit 6: sleep at release)"},
    {"sleep", nullptr, NXTKA_GET(TKAgetSpecialModeSleep, formatOnOff), NXTKA_SET_SWITCH(TKAsetSpecialModeSleep), "",
     kOnOff, "sleep after release (on needs the sleep option)"},
    {"auto-zero-counter", nullptr, NXTKA_GET(TKAgetAutoZeroCounter, formatDecimal),
     NXTKA_SET_INT(TKAsetAutoZeroCounter, 1, 65535), "", "1 to 65535", "auto-zero counter"},
    {"noise-cut", nullptr, NXTKA_GET(TKAgetNoiseCutThreshold, formatReal), NXTKA_SET_REAL(TKAsetNoiseCutThreshold),
     "", "-1.05 to 1.05 (bipolar) or 0 to 1.05 (unipolar); beyond the scale clamped up to 1.05",
     "noise-cut threshold, normalized: 1.05 is the end of scale"},
    {"delta", nullptr, "TKAgetTransmissionDelta", getDelta, NXTKA_SET_REAL(TKAsetTransmissionDelta), "",
     "-1.05 to 1.05 (bipolar) or 0 to below 1.05 (unipolar)",
     "transmission delta, normalized: 1.05 is the end of scale"},
    {"learn-values", nullptr, NXTKA_GET(TKAgetAdaptFilterLearnVals, formatDecimal),
     NXTKA_SET_INT(TKAsetAdaptFilterLearnVals, 0, 65535), "", "0 to 65535", "adaptive filter: learn values"},
    {"adapt-mask", nullptr, NXTKA_GET(TKAgetAdaptFilterMask, formatHex24),
     NXTKA_SET_INT(TKAsetAdaptFilterMask, 0xFF0000, 0xFFFF00), "", "0xFFxx00 (0xFF0000 to 0xFFFF00, low byte 0)",
     "adaptive filter: the mask that holds the threshold"},
    {"adapt-threshold", nullptr, "TKAgetAdaptFilterThreshold", getAdaptThreshold,
     NXTKA_SET_REAL(TKAsetAdaptFilterThreshold), "",
     "above 0; kept as 2^k - 1 steps of 1.05 / 2^24, 0.000016 to 0.0041",
     "adaptive filter: threshold, normalized: 1.05 is the end of scale"},
    {"can-baud", nullptr, NXTKA_GET(TKAgetCanBaudRate, formatBaud), NXTKA_SET_INT(TKAsetCanBaudRate, 1, 1000000),
     "bit/s", "50000, 62500, 83333, 100000, 125000, 250000, 500000, 1000000", "CAN bit rate"},
    {"can-active", nullptr, NXTKA_GET(TKAgetCanActive, formatOnOff), NXTKA_SET_SWITCH(TKAsetCanActive), "", kOnOff,
     "CAN interface active"},
    {"can-20b", nullptr, NXTKA_GET(TKAgetCanMode20B, formatOnOff), NXTKA_SET_SWITCH(TKAsetCanMode20B), "", kOnOff,
     "CAN 2.0B mode, 29-bit identifiers"},
    {"user-offset", nullptr, "TKAgetUserOffset", getUserOffset, NXTKA_SET_REAL(TKAsetUserOffset), "",
     "-0.525 to 0.525 (bipolar) or 0 to 0.525 (unipolar)", "user offset, normalized: 1.05 is the end of scale"},
    {"user-text", nullptr, NXTKA_NO_GET, "TKAsetUserText", setUserText, "", "up to 256 characters", "user text"},
    {"capacity", nullptr, "TKAgetSensorCapacity", getCapacity, NXTKA_SET_REAL(TKAsetSensorCapacity), "",
     "0.1 to 9999999 (6 to 7 significant digits)", "sensor capacity"},
    {"rated-output", nullptr, "TKAgetRatedOutput", getRatedOutput, NXTKA_SET_REAL(TKAsetRatedOutput), "",
     "0.001 to 350, with the digits the input range allows", "sensor rated output"},
    {"analog-filter", nullptr, NXTKA_GET(TKAgetAnalogFilter, formatReal), NXTKA_SET_REAL(TKAsetAnalogFilter), "",
     "0.5 to 32767.5 in steps of 0.5", "analog filter"},
    {"gage-factor", nullptr, NXTKA_GET(TKAgetGageFactor, formatReal), NXTKA_SET_REAL(TKAsetGageFactor), "",
     "0 to 655.35 in steps of 0.01", "strain-gauge factor"},
    {"poisson", nullptr, NXTKA_GET(TKAgetPoisson, formatReal), NXTKA_SET_REAL(TKAsetPoisson), "",
     "0 to 0.51 in steps of 0.002", "Poisson ratio"},
    {"bridge", nullptr, NXTKA_GET(TKAgetBridge, formatHex8), NXTKA_SET_INT(TKAsetBridge, 0, 255), "", "0 to 255",
     "bridge word: bits 0-2 bridge type, bit 4 internal bridge"},
    {"bridge-type", nullptr, NXTKA_GET(TKAgetBridgeType, formatDecimal), NXTKA_SET_INT(TKAsetBridgeType, 0, 7), "",
     "0 to 7", "bridge type"},
    {"bridge-internal", nullptr, NXTKA_GET(TKAgetBridgeInternal, formatOnOff), NXTKA_SET_SWITCH(TKAsetBridgeInternal),
     "", kOnOff, "internal bridge"},
    {"range", nullptr, NXTKA_GET(TKAgetRange, formatReal), NXTKA_SET_REAL(NXwriteRange), "",
     "0.1 to 25.5 in tenths; with a range table 0.01 to 83886.07", "input range (range table entry 0/0)"},
    {"scale", nullptr, NXTKA_GET(TKAgetScale, formatHex24), NXTKA_SET_INT(TKAwriteScale, 0, 0xFFFFFF), "",
     "0 to 0xFFFFFF", "scale value (raw)"},
    {"zero", nullptr, NXTKA_GET(TKAgetZero, formatHex24), NXTKA_SET_INT(TKAwriteZero, 0, 0xFFFFFF), "",
     "0 to 0xFFFFFF", "zero value (raw)"},
    {"offset", nullptr, NXTKA_GET(TKAgetOffset, formatHex16), NXTKA_SET_INT(TKAwriteOffset, 0, 0xFFFF), "",
     "0 to 0xFFFF", "offset value (raw)"},
    {"cal", nullptr, NXTKA_GET(NXgetCal, formatReal), NXTKA_SET_REAL(NXsetCal), "", "above 0.99999997",
     "calibration factor, kept as 16777215 / a whole number"},
    {"offset-wait", nullptr, NXTKA_GET(NXgetOffsetWait, formatReal), NXTKA_SET_REAL(NXsetOffsetWait), "s",
     "0 to 1.5841 in steps of 0.0062", "offset waiting time"},
    {"display-unit", nullptr, NXTKA_GET(TKADispGetUnit, formatDecimal), NXTKA_SET_INT(TKADispSetUnit, 0, 255), "",
     "0 to 255", "unit code of the amplifier's display"},
    {"display-digits", nullptr, NXTKA_GET(TKADispGetDigits, formatDecimal), NXTKA_SET_INT(TKADispSetDigits, 1, 255),
     "", "1 to 255", "digits of the amplifier's display"},
    {"display-point", nullptr, NXTKA_GET(TKADispGetDPoint, formatDecimal), NXTKA_SET_INT(TKADispSetDPoint, 0, 255),
     "", "0 to 255", "decimal exponent of the amplifier's display"},
    {"display-norm", nullptr, NXTKA_GET(TKADispGetNorm, formatReal), NXTKA_SET_REAL(TKADispSetNorm), "",
     "0.16 to 10^6 (10^8 on newer amplifiers)", "display normalization: text values are divided by it"},
};

}  // namespace

std::span<const Setting> settingsTable() { return kSettings; }

}  // namespace nxtka_cli
