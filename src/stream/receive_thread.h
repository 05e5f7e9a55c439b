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

// Stores measured values (or counts them while values are held). True when
// an input discard is requested, which ends the parse of the current buffer.
// `ringHeld` says whether the caller already owns the ring mutex; the first
// stored run takes it and leaves it owned for the rest of the buffer.
bool storeSamples(PortSession& s, const SampleRecord* records, std::uint32_t count, bool& ringHeld);

// Reads one buffer's worth from the device and handles it; the loop body.
void receiveOnce(PortSession& s);

}  // namespace nxtka
