// The amplifier's command set: for each one-byte command code, how many
// parameter bytes follow it on the wire and how many data bytes its answer
// frame carries after the ";". One table, used by the sender, the frame
// parser, the simulated amplifier and the tests.
#pragma once

#include <array>
#include <cstdint>

namespace nxtka {

struct CommandShape {
    std::int32_t paramBytes;   // 0..8, -1 for an undefined code
    std::int32_t answerBytes;  // 0..8 (0: no answer frame), -1 for an undefined code
};

inline constexpr int kCommandCount = 170;
// Never sent; the value of the pending command while none is awaited.
inline constexpr int kNoCommand = 169;

extern const std::array<CommandShape, kCommandCount> kCommandTable;

inline bool isDefinedCommand(int code) {
    return code >= 0 && code < kCommandCount && kCommandTable[static_cast<unsigned>(code)].paramBytes >= 0;
}
inline int paramBytesOf(int code) {
    return code >= 0 && code < kCommandCount ? kCommandTable[static_cast<unsigned>(code)].paramBytes : -1;
}
inline int answerBytesOf(int code) {
    return code >= 0 && code < kCommandCount ? kCommandTable[static_cast<unsigned>(code)].answerBytes : -1;
}

}  // namespace nxtka
