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

// Stores one measured value (or counts it while values are held). True when
// an input discard is requested, which ends the parse of the current buffer.
// `ringHeld` says whether the caller already owns the ring mutex; the first
// stored value takes it and leaves it owned for the rest of the buffer.
bool storeSample(PortSession& s, const SampleRecord& record, bool& ringHeld);

// Reads one buffer's worth from the device and handles it; the loop body.
void receiveOnce(PortSession& s);

}  // namespace nxtka
