// The amplifier's range table: entries first/second (each 0..15), each a
// status and a value in hundredths, sign and magnitude in 24 bits. Newer
// amplifiers keep their input range as entry 0/0, a negative value. The
// routines that both the table's exports and the input range use.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka::ranges {

inline constexpr std::uint32_t kLargestSelector = 15;
inline constexpr std::uint32_t kLargestValue = 0xFFFFFF;
// Why a value in hundredths is refused (codec::signMagnitudeHundredths).
inline constexpr const char* kValueRefused = "range value outside 0.01..83886.07";

// Under the caller's guard: the entry's status (0..127), and its value into
// *value when not null; -1 (value untouched) when the amplifier does not
// answer. The selectors are the caller's to check.
std::int32_t readEntry(PortSession& s, std::uint32_t first, std::uint32_t second, double* value);

// Under the caller's guard: writes the entry's 24-bit value. 0 or -1.
std::int32_t writeEntry(PortSession& s, std::uint32_t first, std::uint32_t second, std::uint32_t value);

// Selectors and value checked before the port, then writeEntry under the
// port's guard. 0 or -1.
std::int32_t setEntry(unsigned port, std::uint32_t first, std::uint32_t second, std::uint32_t value);

// The input range, under the caller's guard. Older amplifiers keep it in
// tenths (WriteRange / GetRange); newer ones as entry 0/0, a negative number
// of hundredths. Writing: 0 or -1; a range the amplifier's way cannot carry
// is refused (after the port checks).
std::int32_t writeInputRange(PortSession& s, double range);
// Reading: the range, or -1.0. On a newer amplifier entry 0/0 when its
// status is above 0; with status 0 the older query, unless the entry is
// negative (the answer's failure).
double readInputRange(PortSession& s);

}  // namespace nxtka::ranges
