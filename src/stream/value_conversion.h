// Raw record to measured value on the normalized scale (1.05 = end of scale).
// Each factor is the double nearest to 1.05 times a power of two, so every
// conversion is one exact integer subtraction and one multiplication.
#pragma once

#include "stream/sample_ring.h"

#include <cstring>

namespace nxtka {

inline constexpr double kUnipolar24 = 6.258487701416016e-8;   // 1.05 / 2^24
inline constexpr double kBipolar24 = 1.2516975402832032e-7;   // 1.05 / 2^23
inline constexpr double kUnipolar16 = 1.6021728515625e-5;     // 1.05 / 2^16
inline constexpr double kBipolar16 = 3.204345703125e-5;       // 1.05 / 2^15

// Display flags that together invert text values in bipolar mode.
inline constexpr int kTextInvertFlags = 0x31;

inline double convertRecord(const SampleRecord& r, bool bipolar, double displayNorm, int displayFlags) {
    switch (r.kind) {
    case kKind24:
        return bipolar ? static_cast<double>(static_cast<std::int32_t>(r.value) - 8388608) * kBipolar24
                       : static_cast<double>(r.value) * kUnipolar24;
    case kKind16:
        return bipolar ? static_cast<double>(static_cast<std::int32_t>(r.value) - 32768) * kBipolar16
                       : static_cast<double>(r.value) * kUnipolar16;
    default: {
        float f = 0.0f;
        std::memcpy(&f, &r.value, sizeof f);
        const double v = static_cast<double>(f) / displayNorm;
        return bipolar && displayFlags == kTextInvertFlags ? -v : v;
    }
    }
}

}  // namespace nxtka
