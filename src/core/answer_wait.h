// The wait for a command's answer event, which also frees an answer held
// behind a stray sign on a quiet line (see stream/held_text.h).
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka {

// Waits like answerEvent.wait(timeoutMs), while a command is pending: true
// when the event is set. Meanwhile, whenever the receive thread holds a text
// frame that has had no new byte for a while, asks it to give that frame up.
bool waitAnswerEvent(PortSession& s, std::uint32_t timeoutMs);

}  // namespace nxtka
