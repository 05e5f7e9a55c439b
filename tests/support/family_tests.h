// What the family tests share beside their rows: the session behind a port,
// an amplifier of a level, a call's wire bytes with its result checked, the
// last failure's text and the simulated amplifier's memory.
#pragma once

#include "support/wire_rows.h"

#include <string>
#include <vector>

namespace nxtka::test {

using Bytes = std::vector<std::uint8_t>;

// The session of an active port.
inline PortSession& sessionOf(unsigned port) { return *library().slot(port).session.load(); }

// An amplifier of this protocol level, options word and control word
// (0x000028: bipolar).
inline sim::Config config(int level = 3, std::uint32_t options = 0, std::uint32_t control = 0x000028) {
    sim::Config c;
    c.level = level;
    c.options = options;
    c.control = control;
    return c;
}

// The bytes the call put on the wire; its result must be `expected`.
inline Bytes wireExpecting(SimPort& sp, const Call& call, double expected) {
    double result = 0;
    auto bytes = wireOf(sp, call, result);
    EXPECT_DOUBLE_EQ(result, expected);
    return bytes;
}

// The text of the calling thread's last failure.
inline std::string reasonText() {
    char text[200] = {};
    NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    return text;
}

// The simulated amplifier's memory: bytes put in at `at`, and n bytes read from `at`.
inline void load(SimPort& sp, std::size_t at, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) sp.model().setMemory(at + i, bytes[i]);
}
inline Bytes memoryAt(SimPort& sp, std::size_t at, std::size_t n) {
    const auto m = sp.model().memory();
    return Bytes(m.begin() + static_cast<std::ptrdiff_t>(at), m.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// A linearization table header in memory: at most 21 points, 16-bit pairs,
// 3-byte slopes; the points from address 256.
inline void describedAmplifier(SimPort& sp) {
    sp.model().setLinearHeaderLayout(true);
    load(sp, 0, {20, 2, 3});
}

}  // namespace nxtka::test
