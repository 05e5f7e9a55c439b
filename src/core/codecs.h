// Placeholder until the codec header lands: rounding and raw conversion.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace nxtka::codec {

inline double roundHalfAway(double x) { return x > 0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5); }

inline std::optional<std::uint32_t> toRaw(double x, std::uint32_t max) {
    if (!std::isfinite(x)) return std::nullopt;
    const double r = roundHalfAway(x);
    if (r < 0.0 || r > static_cast<double>(max)) return std::nullopt;
    return static_cast<std::uint32_t>(r);
}

}  // namespace nxtka::codec
