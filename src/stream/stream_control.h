// Emptying the ring in step with the amplifier and with the receive thread.
// Both routines expect the caller to hold the port's command and ring mutex.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka {

// Holds values back, asks the amplifier for a marker (code 4) whose answer
// proves that every value sent before it has arrived, and drops every unread
// value. -1 when the marker was not answered (the ring is emptied all the
// same; the reason is recorded), 1 when values were dropped, 0 when none were
// waiting. Values stay held: the caller clears holdValues afterwards,
// whatever the result.
int drainValues(PortSession& s, std::uint32_t timeoutMs);

// Empties the ring and has the receive thread throw away everything it has
// read, acknowledged before this returns. Releases the ring mutex itself. 1 on
// success, 0 (with the reason recorded) when the device could not be purged.
int purgeInput(PortSession& s);

}  // namespace nxtka
