// Earlier names of a few commands, kept while callers move to the names of
// command_list.h; and the words' bits the session layer uses.
#pragma once

#include "core/command_table.h"
#include "core/word_bits.h"

#include <cstdint>

namespace nxtka::cmd {

inline constexpr Command kControlWord = kGetControl;
inline constexpr Command kDisplayNorm = kDispGetNorm;
inline constexpr Command kDecimalPoint = kDispGetDPoint;
inline constexpr Command kFirmware = kGetFirmware;
inline constexpr Command kOptions = kGetOptions;

inline constexpr int kOptionDisplayFirmware = 1 << options::kExtension21.shift;
inline constexpr int kOptionSleep = 1 << options::kSleepMode.shift;
inline constexpr std::uint32_t kSpecialModeSleep = 1u << specialMode::kSleep.shift;
inline constexpr std::uint32_t kControlUnipolar = 1u << control::kUnipolar.shift;

}  // namespace nxtka::cmd
