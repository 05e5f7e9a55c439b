// The amplifier's user memory as the block transfers and the linearization
// tables use it: the settling time, single steps tried again after the
// answers that may pass, and the block transfers behind TKAcopyMemory.
//
// Every transfer stops once the line has failed (the receive thread saw the
// device fail): a step then fails at once, without its pauses and retries,
// so a hang-up ends a transfer of 1024 bytes as quickly as one of a byte.
#pragma once

#include "core/export_forms.h"
#include "core/session.h"

#include <cstdint>
#include <cstdlib>

namespace nxtka::memory {

inline constexpr std::uint32_t kSize = 1024;
inline constexpr std::int32_t kNoAnswer = 255;
inline constexpr std::int32_t kUnknownAnswer = 16;

bool lineFailed(const PortSession& s);
// Records the failed line as the calling thread's reason; -1.
std::int32_t lineFailure(const PortSession& s);
// Waits more than `ms` milliseconds, or until the line fails.
void pause(const PortSession& s, std::uint32_t ms);

// The settling time in milliseconds (0..1000), asked up to three times.
bool settlingMs(PortSession& s, std::uint32_t& ms);

// TKAreadMemory / TKAwriteMemory up to three times: a pause of firstDelayMs
// before the first, 250 ms before each further one; tried again only after
// no answer or an unknown answer. The last attempt's result; its status code
// goes to `status` when given (no answer when the line had failed).
std::int32_t readRetry(PortSession& s, std::uint32_t firstDelayMs, std::uint32_t address, std::uint8_t* data,
                       std::int32_t* status);
std::int32_t writeRetry(PortSession& s, std::uint32_t firstDelayMs, std::uint32_t address, bool flag,
                        std::uint8_t data, std::int32_t* status);

// TKAcopyMemory's steps once the settling time is known, without its final
// pause. Writing: the bytes written before the first failure, -1 when the
// first failed. Reading: the bytes copied before the first failure, -1 when
// a leading partial word failed.
std::int32_t writeBlock(PortSession& s, std::uint32_t settleMs, std::uint32_t address, const std::uint8_t* bytes,
                        std::int64_t count);
std::int32_t readBlock(PortSession& s, std::uint32_t settleMs, std::uint32_t address, std::uint8_t* buffer,
                       std::int64_t count);

// What the steps of a transfer did: the export's result, and whether a step
// went unfinished (then a failed line, if it failed, is the reason).
struct Transferred {
    std::int32_t result;
    bool unfinished;
};

// The frame of TKAcopyMemory and TKAcheckMemory, under the guard: 0 for a
// length of 0; else the settling time, steps(session, settleMs, |length|),
// one more settling pause, and the line's failure when a step went unfinished
// on a failed line.
template <class Steps>
std::int32_t transfer(unsigned port, std::int32_t length, Steps steps) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (length == 0) return 0;
        std::uint32_t settle = 0;
        if (!settlingMs(s, settle)) return -1;
        const Transferred done = steps(s, settle, std::llabs(static_cast<std::int64_t>(length)));
        pause(s, settle);
        if (done.unfinished && lineFailed(s)) return lineFailure(s);
        return done.result;
    });
}

// Reads `count` bytes from `address` back and compares them with `expected`.
// False, with the reason recorded and `firstDifference` set to the first
// address that could not be read or holds another byte, when they differ.
bool readsBackAs(PortSession& s, std::uint32_t settleMs, std::uint32_t address, const std::uint8_t* expected,
                 std::uint32_t count, std::uint32_t& firstDifference);

}  // namespace nxtka::memory
