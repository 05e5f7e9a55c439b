// Names of the command codes and answer bits the library's own routines use.
// Family functions name theirs beside their table rows.
#pragma once

#include <cstdint>

namespace nxtka::cmd {

inline constexpr int kControlWord = 3;      // 3-byte control word
inline constexpr int kMarker = 4;           // 2-byte answer; proves earlier values have arrived
inline constexpr int kDisplayNorm = 26;     // 3 bytes, bit 23 a flag
inline constexpr int kDecimalPoint = 28;    // 1 byte
inline constexpr int kStopTransmit = 35;
inline constexpr int kStartTransmit = 36;
inline constexpr int kClearBuffer = 37;
inline constexpr int kIdentify = 42;        // parameter 3; ';' or '$' answer with the protocol level
inline constexpr int kFirmware = 43;        // 2 bytes
inline constexpr int kOptions = 54;         // 3-byte option bits
inline constexpr int kSingleValue = 59;
inline constexpr int kClearMaxValue = 60;
inline constexpr int kUnlockInterface = 63;
inline constexpr int kLockInterface = 64;   // answer 1 when locked
inline constexpr int kSetSpecialMode = 136; // 2 parameter bytes
inline constexpr int kGetSpecialMode = 137; // 2-byte answer

// Option bits (answer to kOptions).
inline constexpr int kOptionDisplayFirmware = 0x100;  // display needs the newer firmware threshold
inline constexpr int kOptionSleep = 0x200;            // has a special mode with a sleep bit

inline constexpr std::uint32_t kSpecialModeSleep = 0x40;  // special-mode bit 6
inline constexpr std::uint32_t kControlUnipolar = 1u << 12;  // control-word bit 12 clear: bipolar

}  // namespace nxtka::cmd
