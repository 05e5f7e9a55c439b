#include "stream/receive_thread.h"

#include "core/command_exchange.h"
#include "stream/frame_parser.h"
#include "stream/held_text.h"

namespace nxtka {
namespace {

// How long the loop rests after a failed read, so that a dead device (an
// unplugged adapter, a closed peer) does not make it spin.
constexpr std::uint32_t kReadErrorBackoffMs = 20;
constexpr std::uint32_t kRingWaitStepMs = 100;

// The ring mutex is taken at the first value of a buffer and kept until the
// whole buffer is parsed: one lock per read instead of one per value.
class SessionSink final : public FrameSink {
public:
    SessionSink(PortSession& s, std::int64_t arrivalNs) : s_(s) { hold_.arrivalNs = arrivalNs; }
    ~SessionSink() { releaseRing(s_, hold_); }
    SessionSink(const SessionSink&) = delete;
    SessionSink& operator=(const SessionSink&) = delete;

    // Between commands, the late answer of one that timed out is still taken
    // apart as an answer frame, so its bytes are not mistaken for values.
    int pendingCommand() override {
        const int pending = s_.pendingCommand.load(std::memory_order_acquire);
        return pending != kNoCommand ? pending : s_.lateCommand.load(std::memory_order_acquire);
    }
    bool storeSamples(const SampleRecord* r, std::uint32_t n) override {
        return nxtka::storeSamples(s_, r, n, hold_);
    }
    void completeAnswer(int code, const std::uint8_t* bytes, int count, int level) override {
        nxtka::completeAnswer(s_, code, bytes, count, level);
    }

private:
    PortSession& s_;
    RingHold hold_;
};

void countHeld(PortSession& s, std::uint32_t count) {
    const std::uint32_t n = s.heldFrames.load(std::memory_order_relaxed);
    s.heldFrames.store(count > 0xFFFFFFFFu - n ? 0xFFFFFFFFu : n + count, std::memory_order_relaxed);
}

void acknowledgeDiscard(PortSession& s) {
    s.rxRead = s.rxKept = s.rxWant = 0;
    s.textHeldSince.store(0);
    s.discardInput.store(0);
    s.answerEvent.set();
}

// The line has just failed. A command waiting for its answer learns it at
// once (it reads commError, stored before). A waiter on the data event is
// woken once; the next read that finds no value reports the failure and
// resets the event. The event is created under the ring mutex, so it is
// looked at only under it; a closing port needs no wake-up.
void signalFailure(PortSession& s) {
    if (s.pendingCommand.load() != kNoCommand) s.answerEvent.set();
    platform::Mutex& m = *s.ringMutex;
    while (!m.lockFor(kRingWaitStepMs)) {
        if (s.stopThread.load() != 0) return;
    }
    settleDataEvent(s);
    m.unlock();
}

}  // namespace

bool storeSamples(PortSession& s, const SampleRecord* records, std::uint32_t count, RingHold& hold) {
    completeByValueFrame(s);
    if (!hold.held) {
        if (s.holdValues.load()) {
            countHeld(s, count);
            return false;
        }
        platform::Mutex& m = *s.ringMutex;
        if (!m.tryLock()) {
            while (!m.lockFor(kRingWaitStepMs)) {
                // Whoever holds the ring may be waiting for an answer that
                // comes behind this value: once values are held, drop it and go on.
                if (s.holdValues.load()) {
                    countHeld(s, count);
                    return false;
                }
            }
        }
        hold.held = true;
    }
    if (s.holdValues.load()) {
        countHeld(s, count);
        return false;
    }
    if (s.discardInput.load() != 0) return true;
    if (s.ring.append(records, count, hold.arrivalNs)) hold.filled = true;
    return s.discardInput.load() != 0;
}

void releaseRing(PortSession& s, RingHold& hold) {
    if (!hold.held) return;
    if (hold.filled && s.dataEvent && s.ring.count() != 0) s.dataEvent->set();
    hold.held = false;
    hold.filled = false;
    s.ringMutex->unlock();
}

void receiveOnce(PortSession& s) {
    if (s.discardInput.load()) {
        acknowledgeDiscard(s);
        return;
    }
    s.rxRead = 0;
    if (s.rxWant == 0) s.rxWant = 1;
    const platform::ReadResult r =
        s.device->read(s.rxBuffer.get() + s.rxKept, s.rxWant, s.rxBufferSize - s.rxKept);
    const std::int64_t arrivalNs = platform::realtimeNs();
    if (r.status == platform::ReadResult::Ok && s.wakeWaiting.load(std::memory_order_relaxed)) s.readEvent.set();

    if (r.status == platform::ReadResult::Failed) {
        const bool firstFailure = s.commError.exchange(r.error != 0 ? r.error : 1) == 0;
        // A discard must still be acknowledged, or its requester would wait
        // forever on a dead device.
        if (s.discardInput.load()) acknowledgeDiscard(s);
        if (firstFailure) signalFailure(s);
        platform::sleepMs(kReadErrorBackoffMs);
        return;
    }
    if (s.discardInput.load()) {
        acknowledgeDiscard(s);
        return;
    }
    // An abort that no discard asked for is no error: a late repeat of a
    // purge, or a waiting command asking to give up a held text frame.
    if (r.status == platform::ReadResult::Aborted) {
        SessionSink sink(s, arrivalNs);
        giveUpHeldTextIfAsked(s, sink);
        return;
    }

    RxState rx{s.rxBuffer.get(), s.rxBufferSize, 0, r.count + s.rxKept, 0};
    SessionSink sink(s, arrivalNs);
    parseFrames(rx, sink);
    s.rxKept = rx.kept;
    s.rxWant = rx.want;
    noteHeldText(s, rx);
}

void receiveThreadMain(void* arg) {
    auto& s = *static_cast<PortSession*>(arg);
    while (s.stopThread.load() == 0) receiveOnce(s);
}

}  // namespace nxtka
