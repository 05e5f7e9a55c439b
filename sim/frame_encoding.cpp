#include "frame_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace nxtka::sim {

namespace {

std::int64_t roundHalfAway(double x) {
    return static_cast<std::int64_t>(x < 0 ? x - 0.5 : x + 0.5);
}

std::uint32_t rawCode(double value, bool bipolar, int bits) {
    const double span = static_cast<double>(std::uint64_t{1} << (bipolar ? bits - 1 : bits));
    const std::int64_t top = (std::int64_t{1} << bits) - 1;
    double steps = value / (1.05 / span);
    // Keep the rounding away from int64 overflow for absurd inputs.
    steps = std::clamp(steps, -4.0 * span, 4.0 * span);
    if (std::isnan(steps)) steps = 0;
    std::int64_t code = roundHalfAway(steps) + (bipolar ? (std::int64_t{1} << (bits - 1)) : 0);
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(code, 0, top));
}

}  // namespace

const char* frameKindName(FrameKind kind) {
    switch (kind) {
        case FrameKind::Binary24: return "binary24";
        case FrameKind::Status16: return "status16";
        case FrameKind::Binary16: return "binary16";
        case FrameKind::Text: return "text";
    }
    return "?";
}

std::uint32_t rawCode24(double value, bool bipolar) { return rawCode(value, bipolar, 24); }

std::uint16_t rawCode16(double value, bool bipolar) {
    return static_cast<std::uint16_t>(rawCode(value, bipolar, 16));
}

double displayNormFactor(std::uint8_t decimalPoint, std::uint32_t normRaw) {
    return std::pow(10.0, static_cast<double>(decimalPoint) - 1.0) * static_cast<double>(normRaw & 0x7FFFFFu) /
           5250020.0;
}

std::vector<std::uint8_t> encodeFrame(const StreamSettings& s, double value, bool bipolar, double normFactor) {
    std::vector<std::uint8_t> f;
    switch (s.kind) {
        case FrameKind::Binary24: {
            const std::uint32_t raw = rawCode24(value, bipolar);
            f = {0x2C, s.status, static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 8),
                 static_cast<std::uint8_t>(raw)};
            break;
        }
        case FrameKind::Status16: {
            const std::uint16_t raw = rawCode16(value, bipolar);
            f = {0x26, static_cast<std::uint8_t>(0xA0 | (s.status & 0x1F)), static_cast<std::uint8_t>(raw >> 8),
                 static_cast<std::uint8_t>(raw)};
            break;
        }
        case FrameKind::Binary16: {
            const std::uint16_t raw = rawCode16(value, bipolar);
            f = {0xA5, static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw)};
            break;
        }
        case FrameKind::Text: {
            double x = value * normFactor;
            if (std::isnan(x)) x = 0;
            const char sign = x < 0 ? '-' : '+';
            const double mag = std::fabs(x);
            // At most 10 significant characters: drop decimals until it fits.
            char digits[400];
            for (int dec = std::clamp(s.textDecimals, 0, 9);; --dec) {
                std::snprintf(digits, sizeof digits, "%.*f", dec, mag);
                if (std::strlen(digits) <= 10 || dec == 0) break;
            }
            if (std::strlen(digits) > 10) std::strcpy(digits, "9999999999");
            const std::size_t len = std::strlen(digits);
            f.push_back(static_cast<std::uint8_t>(sign));
            for (std::size_t i = len; i < static_cast<std::size_t>(std::max(s.textWidth, 0)); ++i) f.push_back(' ');
            f.insert(f.end(), digits, digits + len);
            if (s.textCarriageReturn) f.push_back('\r');
            f.push_back('\n');
            break;
        }
    }
    return f;
}

}  // namespace nxtka::sim
