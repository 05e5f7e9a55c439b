#include "core/answer_wait.h"

#include "stream/held_text.h"

#include <algorithm>

namespace nxtka {

bool waitAnswerEvent(PortSession& s, std::uint32_t timeoutMs) {
    const std::uint32_t start = platform::tickCount();
    for (;;) {
        const std::uint32_t waited = platform::tickCount() - start;
        if (waited >= timeoutMs) return s.answerEvent.isSet();
        std::uint32_t step = heldTextDueInMs(s);
        if (step == 0) {
            requestTextGiveUp(s);
            step = kHeldTextGiveUpMs;  // time for another sign behind this one to fall due
        }
        if (s.answerEvent.wait(std::min(timeoutMs - waited, step))) return true;
    }
}

}  // namespace nxtka
