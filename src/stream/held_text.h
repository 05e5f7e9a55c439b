// A text frame held open on a quiet line. A stray sign (a ',' with one bit
// flipped on the line) opens a text frame that ends only at a line feed or
// at its 64-byte bound. While values stream, the bound comes soon; on a quiet
// line, say a stray sign and then the answer to a command, nothing more
// arrives and the answer would stay inside the open frame.
//
// So the side that waits for an answer asks the receive thread to give up a
// text frame that has had no new byte for a while: it raises the request and
// ends the blocked read (the unread bytes stay); the receive thread, seeing
// the request after the aborted read, drops the frame's sign and parses the
// kept bytes again, where the answer is found while it is still awaited.
#pragma once

#include "core/session.h"
#include "stream/frame_parser.h"

#include <cstdint>

namespace nxtka {

// Far longer than the gaps inside one text frame at any usual line speed
// (a byte takes 8 ms at 1200 bit/s), far shorter than a command's time-out.
inline constexpr std::uint32_t kHeldTextGiveUpMs = 30;

// ---- the receive thread's half

// After every parse of new bytes: whether a text frame is held (since now).
void noteHeldText(PortSession& s, const RxState& rx);
// After an aborted read: gives up the held text frame if that was asked for
// and it has had no new byte for kHeldTextGiveUpMs.
void giveUpHeldTextIfAsked(PortSession& s, FrameSink& sink);

// ---- the waiting side's half

// Milliseconds until a held text frame is due to be given up (0: it is);
// kHeldTextGiveUpMs when none is held.
std::uint32_t heldTextDueInMs(const PortSession& s);
// Asks the receive thread to give up its held text frame.
void requestTextGiveUp(PortSession& s);

}  // namespace nxtka
