// Scaled values of the command families: engineering numbers to the raw
// integers the amplifier stores, and back. Pure functions of numbers.
//
// Every encoder refuses NaN and infinities (std::nullopt) and takes each range
// decision on the rounded double, before anything becomes an integer. Each
// formula keeps the operations of its definition in their order: multiply
// where it multiplies, divide where it divides, because the edge values depend
// on it (0.235 * 100 rounds to 24, 0.235 / 0.01 to 23).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

namespace nxtka::codec {

using Raw = std::optional<std::uint32_t>;

// Half away from zero: add 0.5 to a positive value, subtract 0.5 from a
// negative one, truncate toward zero.
inline double roundHalfAway(double x) {
    return x >= 0.0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
}

// An already rounded double as an integer of 0..max; refused outside (and NaN).
inline Raw rawWithin(double rounded, std::uint32_t max) {
    if (!(rounded >= 0.0 && rounded <= static_cast<double>(max))) return std::nullopt;
    return static_cast<std::uint32_t>(rounded);
}

// x rounded half away to an integer of 0..max; refused for x below 0, NaN,
// or a rounded value above max (so +infinity too).
inline Raw toRaw(double x, std::uint32_t max) {
    if (!(x >= 0.0)) return std::nullopt;
    return rawWithin(roundHalfAway(x), max);
}

// ---------------------------------------------------------------- adjustment

// Calibration factor -> 3-byte divisor R = 16777215 / factor. The factor must
// exceed 16777215 / 16777215.5; R = 0 (a factor too large to read back) is refused.
inline Raw calibrationDivisor(double factor) {
    if (!(factor > 16777215.0 / 16777215.5)) return std::nullopt;
    const Raw r = toRaw(16777215.0 / factor, 0xFFFFFF);
    if (!r || *r == 0) return std::nullopt;
    return r;
}

// 3-byte divisor R -> calibration factor; R = 0 stands for no factor.
inline std::optional<double> calibrationFactor(std::uint32_t divisor) {
    if (divisor == 0) return std::nullopt;
    return 16777215.0 / static_cast<double>(divisor);
}

// Offset waiting time (0 to below 1.5872) -> 1-byte W = time / 0.0062.
inline Raw offsetWaitRaw(double time) {
    if (!(time >= 0.0 && time < 256 * 0.0062)) return std::nullopt;
    return toRaw(time / 0.0062, 0xFF);
}

inline double offsetWait(std::uint32_t raw) { return static_cast<double>(raw) * 0.0062; }

// ---------------------------------------------------------------- control word frequency

// Frequency -> 2-byte divisor 19531.25 / frequency; 19..2000 in the basic
// encoding, 1..65535 in the extended one.
inline Raw frequencyDivisor(double frequency, bool extended) {
    const double minimum = extended ? 1.0 : 19.0;
    const double maximum = extended ? 65535.0 : 2000.0;
    if (!(frequency > 19531.25 / (maximum + 0.5))) return std::nullopt;
    const double divisor = roundHalfAway(19531.25 / frequency);
    if (!(divisor >= minimum && divisor <= maximum)) return std::nullopt;
    return static_cast<std::uint32_t>(divisor);
}

// Frequency of the control word (divisor in bits 0-10); divisor 0 has none.
inline std::optional<double> controlWordFrequency(std::uint32_t controlWord) {
    const std::uint32_t divisor = controlWord & 0x7FF;
    if (divisor == 0) return std::nullopt;
    return 19531.25 / static_cast<double>(divisor);
}

// Frequency of the 3-byte timer answer A (code 22): 5000000 / (16777216 - A).
inline double timerFrequency(std::uint32_t answer) {
    return 5000000.0 / static_cast<double>(16777216u - (answer & 0xFFFFFF));
}

// ---------------------------------------------------------------- sampling-rate word

inline constexpr std::uint32_t kProtocolFactorLinear = 1;     // protocol bit 0 (word bit 22)
inline constexpr std::uint32_t kProtocolFrequencyLinear = 2;  // protocol bit 1 (word bit 23)

// Frequency -> 16-bit field F: F = frequency x 2.0 (1..65535) when linear,
// else the timer reload F = 65536 - 5000000 / frequency (0..65040).
inline Raw samplingFrequencyField(double frequency, bool frequencyLinear) {
    if (frequencyLinear) {
        if (!(frequency >= 0.0 && frequency <= 65535.0)) return std::nullopt;
        const Raw f = toRaw(frequency * 2.0, 0xFFFF);
        if (!f || *f == 0) return std::nullopt;
        return f;
    }
    if (!(frequency > 5000000.0 / 65536.5)) return std::nullopt;
    return rawWithin(65536.0 - roundHalfAway(5000000.0 / frequency), 0xFE10);
}

// Factor -> 6-bit field E: the factor itself (1..63) when linear, else the
// exponent of a power of two.
inline Raw samplingFactorField(std::int32_t factor, bool factorLinear) {
    if (factor <= 0) return std::nullopt;
    const auto f = static_cast<std::uint32_t>(factor);
    if (factorLinear) return f < 64 ? Raw(f) : std::nullopt;
    if (!std::has_single_bit(f)) return std::nullopt;
    return static_cast<std::uint32_t>(std::countr_zero(f));
}

inline std::uint32_t samplingRateWord(std::uint32_t protocol, std::uint32_t factorField,
                                      std::uint32_t frequencyField) {
    return (protocol << 22) | (factorField << 16) | frequencyField;
}

inline std::uint32_t samplingProtocolOf(std::uint32_t word) { return (word >> 22) & 3; }

inline double samplingFrequencyOf(std::uint32_t word) {
    const std::uint32_t f = word & 0xFFFF;
    if ((samplingProtocolOf(word) & kProtocolFrequencyLinear) != 0) return static_cast<double>(f) * 0.5;
    return 5000000.0 / static_cast<double>(65536u - f);
}

// The factor of the word; -1 for an exponent of 31 or more.
inline std::int32_t samplingFactorOf(std::uint32_t word) {
    const std::uint32_t e = (word >> 16) & 0x3F;
    if ((samplingProtocolOf(word) & kProtocolFactorLinear) != 0) return static_cast<std::int32_t>(e);
    return e < 31 ? static_cast<std::int32_t>(1u << e) : -1;
}

// ---------------------------------------------------------------- normalized scale

// The lowest level of the normalized scale: -1.05 bipolar, 0 unipolar.
inline double lowestLevel(bool bipolar) { return bipolar ? -1.05 : 0.0; }

// 16-bit threshold level -> raw, unchecked: x / (2.1 / 65536) + 32768 bipolar,
// x / (1.05 / 65536) unipolar, rounded.
inline double thresholdRawUnchecked(double level, bool bipolar) {
    return bipolar ? roundHalfAway(level / (2.1 / 65536.0)) + 32768.0 : roundHalfAway(level / (1.05 / 65536.0));
}

// Threshold level -> 16-bit raw with the clamps: above 65535 at a level of at
// most 1.05 gives 65535; below 0 at a level of at least the lowest gives 0.
inline Raw thresholdRaw(double level, bool bipolar) {
    double raw = thresholdRawUnchecked(level, bipolar);
    if (raw > 65535.0 && level <= 1.05) raw = 65535.0;
    if (raw < 0.0 && level >= lowestLevel(bipolar)) raw = 0.0;
    return rawWithin(raw, 0xFFFF);
}

// Threshold pair -> 4-byte word U x 65536 + L; refused unless L < U.
inline Raw thresholdPair(double upper, double lower, bool bipolar) {
    const Raw u = thresholdRaw(upper, bipolar);
    const Raw l = thresholdRaw(lower, bipolar);
    if (!u || !l || !(*l < *u)) return std::nullopt;
    return *u * 65536u + *l;
}

inline double thresholdLevel(std::uint32_t raw, bool bipolar) {
    return bipolar ? (static_cast<double>(raw) - 32768.0) * 2.1 / 65536.0 : static_cast<double>(raw) * 1.05 / 65536.0;
}

// Normalized 24-bit value -> raw, unchecked: x / (1.05 / 2^23) + 0x800000
// bipolar, x / (1.05 / 2^24) unipolar, rounded.
inline double normalized24Unchecked(double x, bool bipolar) {
    return bipolar ? roundHalfAway(x / (1.05 / 8388608.0)) + 8388608.0 : roundHalfAway(x / (1.05 / 16777216.0));
}

inline double normalized24(std::uint32_t raw, bool bipolar) {
    return bipolar ? (static_cast<double>(raw) - 8388608.0) * 1.05 / 8388608.0
                   : static_cast<double>(raw) * 1.05 / 16777216.0;
}

// Transmission delta: lowest level to 1.05, and a raw value above 0xFFFFFF
// is refused (unipolar 1.05 does not fit).
inline Raw transmissionDeltaRaw(double x, bool bipolar) {
    if (!(x <= 1.05 && x >= lowestLevel(bipolar))) return std::nullopt;
    return rawWithin(normalized24Unchecked(x, bipolar), 0xFFFFFF);
}

// Noise-cut threshold: clamped to 0xFFFFFF at a level of at most 1.05, to 0 at
// a level of at least the lowest; refused beyond.
inline Raw noiseCutRaw(double x, bool bipolar) {
    const double raw = normalized24Unchecked(x, bipolar);
    if (raw > 16777215.0 && x <= 1.05) return 0xFFFFFFu;
    if (raw < 0.0) return x >= lowestLevel(bipolar) ? Raw(0u) : std::nullopt;
    return rawWithin(raw, 0xFFFFFF);
}

// User offset: -0.525..0.525 bipolar, 0..0.525 unipolar.
inline Raw userOffsetRaw(double x, bool bipolar) {
    const double lowest = bipolar ? -0.525 : 0.0;
    if (!(x >= lowest && x <= 0.525)) return std::nullopt;
    return rawWithin(normalized24Unchecked(x, bipolar), 0xFFFFFF);
}

// ---------------------------------------------------------------- filters

// Analog filter value (0.5 steps) -> 2-byte word = value x 2, 1..65535.
inline Raw analogFilterWord(double value) {
    if (!(value >= 0.0 && value <= 65535.0)) return std::nullopt;
    const Raw w = toRaw(value * 2.0, 0xFFFF);
    if (!w || *w == 0) return std::nullopt;
    return w;
}

inline double analogFilter(std::uint32_t word) { return static_cast<double>(word) * 0.5; }

// A mask the amplifier accepts: 0xFF0000 | (B << 8).
inline bool isAdaptFilterMask(std::int32_t mask) {
    return (static_cast<std::uint32_t>(mask) & ~0xFF00u) == 0xFF0000u;
}

// Adaptive-filter threshold (unipolar step whatever the polarity) -> mask; the
// threshold it stands for is r rounded up to 2^k - 1, from 255 to 65535.
inline Raw adaptFilterMask(double x) {
    if (!(x > 0.0) || !std::isfinite(x)) return std::nullopt;
    const double r = roundHalfAway(x / 6.258487701416016e-8);
    if (r < 256.0) return 0xFFFF00u;
    if (r > 65535.0) return 0xFF0000u;
    const auto highest = std::bit_width(static_cast<std::uint32_t>(r)) - 1;  // 8..15
    return 0xFF0000u | ((0xFF0000u >> (15 - highest)) & 0xFF00u);
}

// Mask -> threshold (~mask & 0xFFFF) x 1.05 / 2^24; a mask outside
// 0xFF0000..0xFFFF00 has none.
inline std::optional<double> adaptFilterThreshold(std::uint32_t mask) {
    if (mask - 0xFF0000u > 0xFF00u) return std::nullopt;
    return static_cast<double>(~mask & 0xFFFFu) * 6.258487701416016e-8;
}

// ---------------------------------------------------------------- bridge and strain gauge

// Gage factor -> 2-byte k x 100.
inline Raw gageFactorRaw(double k) { return toRaw(k * 100.0, 0xFFFF); }
inline double gageFactor(std::uint32_t raw) { return static_cast<double>(raw) / 100.0; }

// Poisson ratio -> 1-byte nu x 500.
inline Raw poissonRaw(double nu) { return toRaw(nu * 500.0, 0xFF); }
inline double poisson(std::uint32_t raw) { return static_cast<double>(raw) / 500.0; }

// Input range of the older amplifiers -> 1-byte range x 10.
inline Raw inputRangeRaw(double range) { return toRaw(range * 10.0, 0xFF); }
inline double inputRange(std::uint32_t raw) { return static_cast<double>(raw) / 10.0; }

// ---------------------------------------------------------------- sign-and-magnitude hundredths

// x (-100000..100000) -> 24-bit sign-and-magnitude number of hundredths
// (bit 23 negative); 0 hundredths and more than 0x7FFFFF are refused.
inline Raw signMagnitudeHundredths(double x) {
    if (!(x >= -100000.0 && x <= 100000.0)) return std::nullopt;
    const double d = roundHalfAway(x * 100.0);
    if (d == 0.0 || !(d >= -8388607.0 && d <= 8388607.0)) return std::nullopt;
    return d > 0.0 ? static_cast<std::uint32_t>(d) : static_cast<std::uint32_t>(-d) | 0x800000u;
}

inline double fromSignMagnitudeHundredths(std::uint32_t value) {
    const double magnitude = static_cast<double>(value & 0x7FFFFF) / 100.0;
    return (value & 0x800000) != 0 ? -magnitude : magnitude;
}

// A range-table answer (code 162): status byte and value; an answer with bit 31
// set is special, status 0 and -1.0 (0xFFFFFFFF) or +1.0.
struct RangeEntry {
    std::int32_t status;
    double value;
};

inline RangeEntry rangeEntry(std::uint32_t answer) {
    if ((answer & 0x80000000u) != 0) return {0, answer == 0xFFFFFFFFu ? -1.0 : 1.0};
    return {static_cast<std::int32_t>(answer >> 24), fromSignMagnitudeHundredths(answer & 0xFFFFFF)};
}

// ---------------------------------------------------------------- decimal-exponent sensor numbers

// Sensor capacity (0.1..9999999) -> exponent byte e + 1 (0..7) and mantissa
// x / 10^e in millionths.
inline Raw sensorCapacityWord(double x) {
    if (!(x >= 0.01 && x <= 9999999.0)) return std::nullopt;
    const int e = static_cast<int>(std::floor(std::log10(x)));
    const double m = x / std::pow(10.0, e);
    const int exponent = e + 1;
    if (exponent < 0 || exponent > 7) return std::nullopt;
    const Raw mantissa = toRaw(m * 1000000.0, 0xFFFFFF);
    if (!mantissa) return std::nullopt;
    return (static_cast<std::uint32_t>(exponent) << 24) | *mantissa;
}

// Rated output (0.001..350) -> the input range's exponent byte e + 1 (low 8
// bits, may be negative) and mantissa x / 10^e in millionths, 10000..9999999.
// A range of 0 or not finite has no exponent.
inline Raw ratedOutputWord(double x, double range) {
    if (!(x >= 0.001 && x <= 350.0)) return std::nullopt;
    if (!std::isfinite(range) || range == 0.0) return std::nullopt;
    const int e = static_cast<int>(std::floor(std::log10(std::fabs(range))));
    const double mantissa = roundHalfAway(x / std::pow(10.0, e) * 1000000.0);
    if (!(mantissa >= 10000.0 && mantissa <= 9999999.0)) return std::nullopt;
    return ((static_cast<std::uint32_t>(e + 1) & 0xFFu) << 24) | static_cast<std::uint32_t>(mantissa);
}

// Word -> 10^(E - 1) x M / 1000000 with the exponent byte E signed.
inline double decimalExponentValue(std::uint32_t word) {
    const auto exponent = static_cast<std::int8_t>(static_cast<std::uint8_t>(word >> 24));
    return std::pow(10.0, exponent - 1) * static_cast<double>(word & 0xFFFFFF) / 1000000.0;
}

// ---------------------------------------------------------------- display norm

// Norm magnitude -> decimal exponent d and mantissa r = m x 5250020 with the
// norm = r / 5250020 x 10^(d - 1), m below 1.5872380952380953; refused below
// 0.01 or when d would be below 1. Upper limits of d depend on the amplifier.
struct DisplayNormCode {
    std::int32_t exponent;
    std::uint32_t mantissa;
};

inline std::optional<DisplayNormCode> displayNormCode(double magnitude) {
    if (!(magnitude >= 0.01) || !std::isfinite(magnitude)) return std::nullopt;
    int e = static_cast<int>(std::floor(std::log10(magnitude)));
    double m = magnitude / std::pow(10.0, e);
    if (m >= 1.5872380952380953) {
        m = m / 10.0;
        e = e + 1;
    }
    const int d = e + 1;
    if (d < 1) return std::nullopt;
    const Raw r = toRaw(m * 5250020.0, 0x7FFFFF);
    if (!r) return std::nullopt;
    return DisplayNormCode{d, *r};
}

inline double displayNorm(std::int32_t exponent, std::uint32_t mantissa) {
    return static_cast<double>(mantissa) / 5250020.0 * std::pow(10.0, exponent - 1);
}

// ---------------------------------------------------------------- linearization tables

// Point value -> 16-bit raw, always the bipolar step: v / 3.204345703125e-5 +
// 32768 must lie in -1..65536 and round into 0..65535.
inline Raw linearPoint16(double v) {
    const double b = v / 3.204345703125e-5 + 32768.0;
    if (!(b >= -1.0 && b <= 65536.0)) return std::nullopt;
    return rawWithin(roundHalfAway(b), 0xFFFF);
}

inline double fromLinearPoint16(std::uint32_t raw) { return (static_cast<double>(raw) - 32768.0) * 3.204345703125e-5; }

// Point value -> 24-bit raw: v / 1.2516975402832032e-7 + 8388608.
inline Raw linearPoint24(double v) {
    const double b = v / 1.2516975402832032e-7 + 8388608.0;
    if (!(b >= -1.0 && b <= 16777216.0)) return std::nullopt;
    return rawWithin(roundHalfAway(b), 0xFFFFFF);
}

inline double fromLinearPoint24(std::uint32_t raw) {
    return (static_cast<double>(raw) - 8388608.0) * 1.2516975402832032e-7;
}

// Slope between two raw points, a = (y2 - y1) / (x2 - x1) with the differences
// as unsigned 32-bit numbers; refused above 16.5 (a difference of x of 0 is
// steeper still), and when a x scale rounds to limit or more.
inline Raw linearSlope(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2, double scale,
                       std::uint32_t limit) {
    if (x2 == x1) return std::nullopt;
    const double a = static_cast<double>(y2 - y1) / static_cast<double>(x2 - x1);
    if (!(a <= 16.5)) return std::nullopt;
    return rawWithin(roundHalfAway(a * scale), limit - 1);
}

// 3-byte slope, scale 2^18.
inline Raw linearSlope3(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
    return linearSlope(x1, y1, x2, y2, 262144.0, 0x400000);
}

// 4-byte slope, scale 2^26.
inline Raw linearSlope4(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
    return linearSlope(x1, y1, x2, y2, 67108864.0, 0x40000000);
}

// Extra record x of the header-described layout -> signed byte: within
// -129..128 and rounding into -128..127.
inline Raw linearRecordByte(double x) {
    if (!(x >= -129.0 && x <= 128.0)) return std::nullopt;
    const double r = roundHalfAway(x);
    if (!(r >= -128.0 && r <= 127.0)) return std::nullopt;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(r)) & 0xFFu;
}

// ---------------------------------------------------------------- device memory

// Status byte of a memory step -> status code: class 0xA0 succeeds with
// S & 0x1F (0..15), class 0x50 fails with S & 0x1F (16..31), any other byte
// fails with 16.
struct MemoryStatus {
    bool ok;
    std::int32_t code;
};

inline MemoryStatus memoryStatus(std::uint32_t s) {
    switch (s & 0xF0) {
    case 0xA0: return {true, static_cast<std::int32_t>(s & 0x1F)};
    case 0x50: return {false, static_cast<std::int32_t>(s & 0x1F)};
    default: return {false, 16};
    }
}

// Memory-wait answer W -> settling time in seconds, W x 0.002.
inline double memoryWaitSeconds(std::uint32_t w) { return static_cast<double>(w) * 0.002; }

// Settling time in seconds (not negative) -> milliseconds, at most 1000:
// the integer part of min(x, 1) x 1000 + 0.5.
inline std::uint32_t settlingMilliseconds(double seconds) {
    return static_cast<std::uint32_t>(std::min(seconds, 1.0) * 1000.0 + 0.5);
}

}  // namespace nxtka::codec
