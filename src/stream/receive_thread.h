// The port's main loop: the only reader of the serial device. It reads what
// the current frame still misses, parses, stores measured values in the ring,
// completes the pending command and acknowledges input discards.
#pragma once

#include "core/session.h"
#include "stream/sample_ring.h"

namespace nxtka {

inline constexpr std::size_t kReceiveThreadStack = 65536;

// Thread entry; `arg` is the PortSession. Ends once stopThread is seen.
void receiveThreadMain(void* arg);

// What the parse of one buffer holds of the ring: its mutex, from the first
// stored run to the end of the buffer, and whether the ring turned non-empty
// meanwhile. The data event is set once, when the buffer is done and just
// before the mutex goes, so a woken reader does not find the ring locked.
struct RingHold {
    bool held = false;
    bool filled = false;
    std::int64_t arrivalNs = 0;  // when the read that brought this buffer returned
};

// Stores measured values (or counts them while values are held). True when
// an input discard is requested, which ends the parse of the current buffer.
bool storeSamples(PortSession& s, const SampleRecord* records, std::uint32_t count, RingHold& hold);

// Ends the buffer: sets the data event if the ring turned non-empty, then
// releases the ring mutex.
void releaseRing(PortSession& s, RingHold& hold);

// Reads one buffer's worth from the device and handles it; the loop body.
void receiveOnce(PortSession& s);

}  // namespace nxtka
