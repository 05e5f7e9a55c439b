// The sending side of the link: every byte the library sends goes through
// these routines. The caller holds the port's command mutex (or works inside
// activation or release, where nobody else can reach the session).
#pragma once

#include "core/session.h"

#include <array>
#include <cstdint>

namespace nxtka {

// Returns once strictly more than `ms` milliseconds have passed by the tick
// counter (so 0 waits for at least one tick), and no later than one tick
// after that when the sleeps are exact.
void waitMilliseconds(std::uint32_t ms);

// The same pause on a given clock, so that it can be checked against a clock
// whose ticks and sleeps are known exactly.
struct PauseClock {
    std::uint32_t (*tickCount)();
    void (*sleepMs)(std::uint32_t ms);
};
void waitMilliseconds(std::uint32_t ms, const PauseClock& clock);

// Writes and flushes; 1 when every byte went out, 0 otherwise. A device that
// cannot flush is tolerated (and remembered in flushSupported).
int writeBytes(PortSession& s, const std::uint8_t* bytes, std::uint32_t count);

// Starts a write without waiting: 1 completed at once, -1 in progress, 0 failed.
int startWrite(PortSession& s, const std::uint8_t* bytes, std::uint32_t count);

// Flushes after a write; false when the flush failed for another reason than
// the device not supporting it.
bool flushAfterWrite(PortSession& s);

// A command: the code, then its table's number of parameter bytes taken from
// `params`. Without params the code goes alone. With a delay, every byte is
// written on its own after a pause of more than `delayMs`.
bool sendCommand(PortSession& s, int code, const std::uint8_t* params = nullptr, std::uint32_t delayMs = 0);

// A command whose parameter is an integer: at most 4 parameter bytes. Made
// only from a constant code, so a longer or undefined one does not compile.
struct ValueCommand {
    int code;
    consteval ValueCommand(Command c) : code(c.code) { check(c.paramBytes); }  // NOLINT(google-explicit-constructor)
    consteval ValueCommand(int c) : code(c) { check(paramBytesOf(c)); }        // NOLINT(google-explicit-constructor)

private:
    static consteval void check(int paramBytes) {
        if (paramBytes < 0 || paramBytes > 4) throw "this code takes no integer parameter";
    }
};

// The parameter bytes of an integer: the low-order `count` (0..4) bytes of
// `value`, most significant first.
std::array<std::uint8_t, 4> lowBytes(std::uint32_t value, int count);

// The code, then the low-order bytes of `value` that its parameter takes,
// most significant first.
bool sendSetting(PortSession& s, ValueCommand command, std::uint32_t value);

}  // namespace nxtka
