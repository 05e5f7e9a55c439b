// The session's copy of the amplifier's display settings, which text values
// are divided by. Identification fills it; the display setters keep it up to
// date.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka {

inline constexpr std::uint32_t kDisplayNormSignBit = 0x800000;  // bit 23 of the norm answer: a flag
inline constexpr double kDisplayNormUnit = 5250020.0;            // raw norm of a factor of 1

// Stores decimal point and raw norm (bit 23 cleared) and the factor
// 10^(decimalPoint - 1) x rawNorm / 5250020.
void storeDisplayNorm(PortSession& s, int decimalPoint, std::uint32_t rawNorm);

}  // namespace nxtka
