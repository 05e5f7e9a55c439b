#include "stream/held_text.h"

namespace nxtka {
namespace {

constexpr std::uint32_t kNoneHeld = 0;

// The tick of the newest byte, never kNoneHeld.
std::uint32_t stamp(std::uint32_t tick) { return tick == kNoneHeld ? 1 : tick; }

std::uint32_t heldForMs(std::uint32_t since) { return platform::tickCount() - since; }

}  // namespace

void noteHeldText(PortSession& s, const RxState& rx) {
    if (holdsTextFrame(rx)) {
        s.textHeldSince.store(stamp(platform::tickCount()));
    } else if (s.textHeldSince.load(std::memory_order_relaxed) != kNoneHeld) {
        s.textHeldSince.store(kNoneHeld);
    }
}

void giveUpHeldTextIfAsked(PortSession& s, FrameSink& sink) {
    if (!s.giveUpHeldText.exchange(false)) return;
    const std::uint32_t since = s.textHeldSince.load();
    if (since == kNoneHeld || heldForMs(since) < kHeldTextGiveUpMs) return;
    RxState rx{s.rxBuffer.get(), s.rxBufferSize, s.rxKept, s.rxKept, s.rxWant};
    if (!holdsTextFrame(rx)) return;
    giveUpKeptFrame(rx, sink);
    s.rxKept = rx.kept;
    s.rxWant = rx.want;
    // No byte has arrived since: a text frame behind the sign is as old.
    if (!holdsTextFrame(rx)) s.textHeldSince.store(kNoneHeld);
}

std::uint32_t heldTextDueInMs(const PortSession& s) {
    const std::uint32_t since = s.textHeldSince.load();
    if (since == kNoneHeld) return kHeldTextGiveUpMs;
    const std::uint32_t held = heldForMs(since);
    return held >= kHeldTextGiveUpMs ? 0 : kHeldTextGiveUpMs - held;
}

void requestTextGiveUp(PortSession& s) {
    s.giveUpHeldText.store(true);
    s.device->purge(platform::kPurgeRxAbort);
}

}  // namespace nxtka
