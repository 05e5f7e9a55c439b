// The CAN settings: 16-bit values by a one-byte index (core/word_bits.h,
// namespace can), and the 32-bit identifiers kept as two of them, the lower
// half at the index and the upper half at the index with bit 7 set. The
// routines run under the caller's guard.
#pragma once

#include "core/session.h"

#include <cstdint>
#include <optional>

namespace nxtka::can {

// Why a setting's index or value is refused.
inline constexpr const char* kSettingRefused = "CAN setting index or value outside its range";

// The parameter of a setting: index (with bit 7 for the upper half, 1..255
// without index 0x80) and a 16-bit value; nothing when either is outside.
std::optional<std::uint32_t> settingWord(std::int32_t index, std::int32_t value);

// One setting read (the index's low byte is sent): its value, or -1.
std::int32_t readSetting(PortSession& s, std::int32_t index);
// One setting written; an index or value outside is refused. 0 or -1.
std::int32_t writeSetting(PortSession& s, std::int32_t index, std::int32_t value);

// An identifier: its two halves read, or -1 when either read fails.
std::int32_t readIdentifier(PortSession& s, std::int32_t index);
// An identifier: both halves written (the upper also when the lower
// failed); the first failure. 0 or -1.
std::int32_t writeIdentifier(PortSession& s, std::int32_t index, std::int32_t id);

}  // namespace nxtka::can
