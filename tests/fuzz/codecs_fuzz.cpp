// Every codec of the command families with any number and any raw word.
// An encoder either refuses or gives a raw number inside its field that
// decodes to within half a step of the number and encodes back to itself; a
// number inside the documented range is never refused; every decoder gives a
// finite value inside its scale for every raw word of its width.
// UndefinedBehaviorSanitizer stops any double that reaches an integer out of
// range on the way.
//
// Input: which codec, then its numbers.
#include "core/codecs.h"
#include "fuzz_input.h"

#include <cmath>
#include <iterator>
#include <limits>

namespace {

using namespace nxtka::codec;
using nxtka::fuzz::Input;

bool finite(double v) { return std::isfinite(v); }

// |a - b| <= tolerance, with room for the rounding of the decoder itself.
bool near(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * (1.0 + 1e-9) + 1e-12 * std::fabs(b);
}

bool within(double v, double lo, double hi) { return finite(v) && v >= lo && v <= hi; }

// The step of the normalized scale in k bits, from 1.05 alone.
double step(int bits) { return std::ldexp(1.05, -bits); }

void calibration(Input& in) {
    const double x = in.number();
    if (const Raw r = calibrationDivisor(x)) {
        FUZZ_CHECK(*r >= 1 && *r <= 0xFFFFFF);
        const std::optional<double> f = calibrationFactor(*r);
        FUZZ_CHECK(f && within(*f, 1.0, 16777215.0));
        FUZZ_CHECK(near(16777215.0 / *f, 16777215.0 / x, 0.5));
        FUZZ_CHECK(calibrationDivisor(*f) == r);
    }
    const std::uint32_t raw = in.u32() & 0xFFFFFF;
    const std::optional<double> f = calibrationFactor(raw);
    FUZZ_CHECK(f.has_value() == (raw != 0));
    if (f) FUZZ_CHECK(within(*f, 1.0, 16777215.0));
}

void offsetWaitTime(Input& in) {
    const double x = in.number();
    const Raw r = offsetWaitRaw(x);
    if (x >= 0.0 && x <= 255.0 * 0.0062) FUZZ_CHECK(r.has_value());
    if (r) {
        FUZZ_CHECK(*r <= 0xFF);
        FUZZ_CHECK(near(offsetWait(*r), x, 0.0031));
        FUZZ_CHECK(offsetWaitRaw(offsetWait(*r)) == r);
    }
    FUZZ_CHECK(within(offsetWait(in.byte()), 0.0, 255 * 0.0062));
}

void controlWordFrequencies(Input& in) {
    const bool extended = (in.byte() & 1) != 0;
    const double x = in.number();
    if (const Raw d = frequencyDivisor(x, extended)) {
        FUZZ_CHECK(*d >= (extended ? 1u : 19u) && *d <= (extended ? 65535u : 2000u));
        FUZZ_CHECK(near(19531.25 / x, *d, 0.5));
        FUZZ_CHECK(frequencyDivisor(19531.25 / *d, extended) == d);
    }
    const std::uint32_t word = in.u32();
    const std::optional<double> f = controlWordFrequency(word);
    FUZZ_CHECK(f.has_value() == ((word & 0x7FF) != 0));
    if (f) FUZZ_CHECK(within(*f, 19531.25 / 2047, 19531.25));
    FUZZ_CHECK(within(timerFrequency(in.u32()), 5000000.0 / 16777216.0, 5000000.0));
}

void samplingRate(Input& in) {
    const std::uint8_t how = in.byte();
    const bool linear = (how & 1) != 0;
    const double x = in.number();
    const std::uint32_t protocol = linear ? kProtocolFrequencyLinear : 0;
    if (const Raw f = samplingFrequencyField(x, linear)) {
        FUZZ_CHECK(linear ? *f >= 1 && *f <= 0xFFFF : *f <= 0xFE10);
        const double back = samplingFrequencyOf(samplingRateWord(protocol, 0, *f));
        FUZZ_CHECK(finite(back) && back > 0.0);
        if (linear) {
            FUZZ_CHECK(near(back, x, 0.25));
        } else {
            FUZZ_CHECK(near(5000000.0 / back, 5000000.0 / x, 0.5));
        }
        FUZZ_CHECK(samplingFrequencyField(back, linear) == f);
    }
    const auto factor = static_cast<std::int32_t>(in.u32());
    const bool factorLinear = (how & 2) != 0;
    if (const Raw e = samplingFactorField(factor, factorLinear)) {
        FUZZ_CHECK(*e <= 63);
        const std::uint32_t word =
            samplingRateWord(factorLinear ? kProtocolFactorLinear : 0, *e, in.u32() & 0xFFFF);
        FUZZ_CHECK(samplingFactorOf(word) == factor);
    }
    const std::uint32_t word = in.u32() & 0xFFFFFF;
    FUZZ_CHECK(within(samplingFrequencyOf(word), 0.0, 5000000.0));
    const std::int32_t back = samplingFactorOf(word);
    FUZZ_CHECK(back == -1 || (back >= 0 && back <= (1 << 30)));
}

void thresholds(Input& in) {
    const bool bipolar = (in.byte() & 1) != 0;
    const double lowest = bipolar ? -1.05 : 0.0;
    const double unit = step(bipolar ? 15 : 16);
    const double level = in.number();
    const Raw r = thresholdRaw(level, bipolar);
    if (level >= lowest && level <= 1.05) FUZZ_CHECK(r.has_value());
    if (r) {
        FUZZ_CHECK(*r <= 0xFFFF);
        // The end of the scale is clamped to the last code: one step away.
        FUZZ_CHECK(near(thresholdLevel(*r, bipolar), level, *r == 0xFFFF || *r == 0 ? unit : unit / 2));
    }
    const double other = in.number();
    if (const Raw pair = thresholdPair(level, other, bipolar)) {
        FUZZ_CHECK(r && (*pair >> 16) == *r);
        FUZZ_CHECK((*pair & 0xFFFF) < *r);
        FUZZ_CHECK(thresholdRaw(other, bipolar) == (*pair & 0xFFFF));
    }
    FUZZ_CHECK(within(thresholdLevel(in.u32() & 0xFFFF, bipolar), lowest, 1.05 - unit));
}

void normalized24Values(Input& in) {
    const std::uint8_t how = in.byte();
    const bool bipolar = (how & 1) != 0;
    const double lowest = bipolar ? -1.05 : 0.0;
    const double unit = step(bipolar ? 23 : 24);
    const double x = in.number();
    Raw r;
    switch ((how >> 1) % 3) {
    case 0:
        r = transmissionDeltaRaw(x, bipolar);
        if (x >= lowest && x <= 1.05 - unit) FUZZ_CHECK(r.has_value());
        if (r) FUZZ_CHECK(x >= lowest && x <= 1.05);
        break;
    case 1:
        r = noiseCutRaw(x, bipolar);
        if (x >= lowest && x <= 1.05) FUZZ_CHECK(r.has_value());
        break;
    default:
        r = userOffsetRaw(x, bipolar);
        if (x >= (bipolar ? -0.525 : 0.0) && x <= 0.525) FUZZ_CHECK(r.has_value());
        if (r) FUZZ_CHECK(x >= (bipolar ? -0.525 : 0.0) && x <= 0.525);
        break;
    }
    if (r) {
        FUZZ_CHECK(*r <= 0xFFFFFF);
        FUZZ_CHECK(near(normalized24(*r, bipolar), x, *r == 0xFFFFFF || *r == 0 ? unit : unit / 2));
    }
    FUZZ_CHECK(within(normalized24(in.u32() & 0xFFFFFF, bipolar), lowest, 1.05 - unit));
}

void filters(Input& in) {
    const double x = in.number();
    if (const Raw w = analogFilterWord(x)) {
        FUZZ_CHECK(*w >= 1 && *w <= 0xFFFF);
        FUZZ_CHECK(near(analogFilter(*w), x, 0.25));
        FUZZ_CHECK(analogFilterWord(analogFilter(*w)) == w);
    }
    const double unit = step(24);
    const double t = in.number();
    if (const Raw mask = adaptFilterMask(t)) {
        FUZZ_CHECK(isAdaptFilterMask(static_cast<std::int32_t>(*mask)));
        const std::optional<double> threshold = adaptFilterThreshold(*mask);
        FUZZ_CHECK(threshold.has_value());
        const double k = std::round(*threshold / unit);
        FUZZ_CHECK(k >= 255.0 && k <= 65535.0);
        const auto steps = static_cast<std::uint32_t>(k);
        FUZZ_CHECK(((steps + 1) & steps) == 0);  // 2^n - 1
        const double r = std::round(t / unit);
        if (r >= 255.0 && r <= 65535.0) FUZZ_CHECK(k >= r && k <= 2 * r);
    } else {
        FUZZ_CHECK(!(t > 0.0 && std::isfinite(t)));
    }
    const std::optional<double> threshold = adaptFilterThreshold(in.u32());
    if (threshold) FUZZ_CHECK(within(*threshold, 0.0, 65535 * unit));
}

// An encoder that multiplies by `perUnit` into a field of up to `max`.
template <typename Encode, typename Decode>
void scaled(Input& in, Encode encode, Decode decode, double perUnit, std::uint32_t max) {
    const double x = in.number();
    const Raw r = encode(x);
    if (x >= 0.0 && x * perUnit <= max) FUZZ_CHECK(r.has_value());
    if (r) {
        FUZZ_CHECK(*r <= max);
        FUZZ_CHECK(near(decode(*r), x, 0.5 / perUnit));
        FUZZ_CHECK(encode(decode(*r)) == r);
    }
    FUZZ_CHECK(within(decode(in.u32() % (max + 1)), 0.0, max / perUnit));
}

void bridge(Input& in) {
    switch (in.byte() % 3) {
    case 0: scaled(in, gageFactorRaw, gageFactor, 100.0, 0xFFFF); break;
    case 1: scaled(in, poissonRaw, poisson, 500.0, 0xFF); break;
    default: scaled(in, inputRangeRaw, inputRange, 10.0, 0xFF); break;
    }
}

void hundredths(Input& in) {
    const double x = in.number();
    if (const Raw r = signMagnitudeHundredths(x)) {
        FUZZ_CHECK(*r <= 0xFFFFFF && (*r & 0x7FFFFF) != 0);
        FUZZ_CHECK(near(fromSignMagnitudeHundredths(*r), x, 0.005));
        FUZZ_CHECK(signMagnitudeHundredths(fromSignMagnitudeHundredths(*r)) == r);
    } else {
        FUZZ_CHECK(!(std::fabs(x) >= 0.0051 && std::fabs(x) <= 83886.06));
    }
    FUZZ_CHECK(within(fromSignMagnitudeHundredths(in.u32() & 0xFFFFFF), -83886.07, 83886.07));
    const RangeEntry e = rangeEntry(in.u32());
    FUZZ_CHECK(e.status >= 0 && e.status <= 127);
    FUZZ_CHECK(within(e.value, -83886.07, 83886.07));
}

void decimalExponents(Input& in) {
    const double x = in.number();
    if (const Raw w = sensorCapacityWord(x)) {
        FUZZ_CHECK((*w >> 24) <= 7);
        FUZZ_CHECK(near(decimalExponentValue(*w), x, 1e-6 * x));
    }
    const double range = in.number();
    if (const Raw w = ratedOutputWord(x, range)) {
        const std::uint32_t mantissa = *w & 0xFFFFFF;
        FUZZ_CHECK(mantissa >= 10000 && mantissa <= 9999999);
        FUZZ_CHECK(near(decimalExponentValue(*w), x, 5e-5 * x));
    }
    const double v = decimalExponentValue(in.u32());
    FUZZ_CHECK(finite(v) && v >= 0.0);
}

void displayNorms(Input& in) {
    const double x = in.number();
    if (const std::optional<DisplayNormCode> c = displayNormCode(x)) {
        FUZZ_CHECK(c->exponent >= 1 && c->mantissa <= 0x7FFFFF);
        // The setter refuses exponents beyond the amplifier's few digits;
        // up to 300 the power of ten is finite.
        if (c->exponent <= 300) FUZZ_CHECK(near(displayNorm(c->exponent, c->mantissa), x, 1e-6 * x));
    }
    // The exponent comes from a one-byte answer, the mantissa from 31 bits.
    const double norm = displayNorm(in.byte(), in.u32() & 0x7FFFFFFF);
    FUZZ_CHECK(finite(norm) && norm >= 0.0);
}

void linearPoints(Input& in) {
    const std::uint8_t how = in.byte();
    const double x = in.number();
    const bool wide = (how & 1) != 0;
    const double unit = step(wide ? 23 : 15);
    const std::uint32_t max = wide ? 0xFFFFFF : 0xFFFF;
    const Raw r = wide ? linearPoint24(x) : linearPoint16(x);
    if (x >= -1.05 && x <= 1.05 - unit) FUZZ_CHECK(r.has_value());
    if (r) {
        FUZZ_CHECK(*r <= max);
        // The offset is added before rounding: the sum itself may round up
        // to the half step, from just below it.
        FUZZ_CHECK(near(wide ? fromLinearPoint24(*r) : fromLinearPoint16(*r), x, unit * (0.5 + 1e-6)));
    }
    const std::uint32_t raw = in.u32() & max;
    FUZZ_CHECK(within(wide ? fromLinearPoint24(raw) : fromLinearPoint16(raw), -1.05, 1.05 - unit));

    const std::uint32_t x1 = in.u32(), y1 = in.u32(), x2 = in.u32(), y2 = in.u32();
    if (const Raw s = linearSlope3(x1, y1, x2, y2)) FUZZ_CHECK(*s < 0x400000);
    if (const Raw s = linearSlope4(x1, y1, x2, y2)) FUZZ_CHECK(*s < 0x40000000);

    if (const Raw b = linearRecordByte(x)) {
        FUZZ_CHECK(*b <= 0xFF);
        FUZZ_CHECK(near(static_cast<std::int8_t>(static_cast<std::uint8_t>(*b)), x, 0.5));
    } else {
        FUZZ_CHECK(!(x >= -128.0 && x < 127.5));
    }
}

void memorySteps(Input& in) {
    const std::uint32_t s = in.u32();
    const MemoryStatus m = memoryStatus(s);
    FUZZ_CHECK(m.code >= 0 && m.code <= 31);
    FUZZ_CHECK(m.ok == ((s & 0xF0) == 0xA0));
    const double seconds = memoryWaitSeconds(in.u32());
    FUZZ_CHECK(finite(seconds) && seconds >= 0.0);
    FUZZ_CHECK(settlingMilliseconds(seconds) <= 1000);
    const double any = std::fabs(in.number());
    if (std::isfinite(any)) FUZZ_CHECK(settlingMilliseconds(any) <= 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    using Family = void (*)(Input&);
    static constexpr Family kFamilies[] = {
        calibration, offsetWaitTime, controlWordFrequencies, samplingRate, thresholds,
        normalized24Values, filters, bridge, hundredths, decimalExponents, displayNorms,
        linearPoints, memorySteps,
    };
    kFamilies[in.byte() % std::size(kFamilies)](in);
    return 0;
}
