// The amplifier's command set: for each one-byte command code, how many
// parameter bytes follow it on the wire and how many data bytes its answer
// frame carries after the ";". Built from the one list in command_list.h and
// used by the sender, the frame parser, the simulated amplifier and the tests.
#pragma once

#include "core/command_list.h"

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

// A named command. Converts to its code wherever a plain code is wanted.
struct Command {
    int code;
    int paramBytes;
    int answerBytes;
    constexpr operator int() const { return code; }  // NOLINT(google-explicit-constructor)
};

namespace cmd {
#define NXTKA_COMMAND_CONSTANT(name, code, params, answer) inline constexpr Command k##name{code, params, answer};
NXTKA_COMMAND_LIST(NXTKA_COMMAND_CONSTANT)
#undef NXTKA_COMMAND_CONSTANT

// drainValues sends this query for its answer alone: once it arrives, every
// value measured before it has arrived too.
inline constexpr Command kMarker = kGetOffset;
}  // namespace cmd

namespace detail {
consteval std::array<CommandShape, kCommandCount> buildCommandTable() {
    std::array<CommandShape, kCommandCount> table{};
    for (auto& row : table) row = {-1, -1};
    const Command all[] = {
#define NXTKA_COMMAND_ROW(name, code, params, answer) cmd::k##name,
        NXTKA_COMMAND_LIST(NXTKA_COMMAND_ROW)
#undef NXTKA_COMMAND_ROW
    };
    for (const Command& c : all) {
        if (c.code < 0 || c.code >= kNoCommand) throw "command code outside 0..168";
        if (table[static_cast<unsigned>(c.code)].paramBytes != -1) throw "command code listed twice";
        if (c.paramBytes < 0 || c.paramBytes > 8 || c.answerBytes < 0 || c.answerBytes > 8)
            throw "parameter or answer length outside 0..8";
        table[static_cast<unsigned>(c.code)] = {c.paramBytes, c.answerBytes};
    }
    return table;
}

consteval int definedCommandCount() {
    int n = 0;
#define NXTKA_COMMAND_COUNT(name, code, params, answer) ++n;
    NXTKA_COMMAND_LIST(NXTKA_COMMAND_COUNT)
#undef NXTKA_COMMAND_COUNT
    return n;
}
}  // namespace detail

inline constexpr std::array<CommandShape, kCommandCount> kCommandTable = detail::buildCommandTable();

// 170 codes: 71..127, 153 and 169 undefined, the other 111 listed once.
static_assert(detail::definedCommandCount() == kCommandCount - (127 - 71 + 1) - 2);

constexpr bool isDefinedCommand(int code) {
    return code >= 0 && code < kCommandCount && kCommandTable[static_cast<unsigned>(code)].paramBytes >= 0;
}
constexpr int paramBytesOf(int code) {
    return code >= 0 && code < kCommandCount ? kCommandTable[static_cast<unsigned>(code)].paramBytes : -1;
}
constexpr int answerBytesOf(int code) {
    return code >= 0 && code < kCommandCount ? kCommandTable[static_cast<unsigned>(code)].answerBytes : -1;
}

// The name of a defined code ("GetScale"), or nullptr.
const char* commandName(int code);

}  // namespace nxtka
