#include "core/port_guard.h"

#include "core/last_failure.h"

namespace nxtka {
namespace {

// The first checks of every guard: false (with the reason recorded) for a
// port above 1023 or one without its mutex.
bool portUsable(unsigned port, const platform::Mutex* m) {
    clearFailure();
    if (port >= kPortCount) {
        recordFailure(Failure::PortRange);
        return false;
    }
    if (m == nullptr) {
        recordFailure(Failure::NotActive);
        return false;
    }
    return true;
}

// After the mutex was taken: the session must still be there and in the
// state the caller needs.
bool sessionUsable(const PortSession* s, bool sameMutex, int state, int wanted) {
    if (s == nullptr || !sameMutex) {
        recordFailure(Failure::NotActive);
        return false;
    }
    if (state != wanted) {
        recordFailure(Failure::Busy, wanted == kLinkAsyncWrite ? "no asynchronous write is outstanding"
                                                                 : "an asynchronous write is outstanding");
        return false;
    }
    return true;
}

}  // namespace

CommandGuard::CommandGuard(unsigned port, GuardKind kind) {
    platform::Mutex* m = port < kPortCount ? library().slot(port).apiMutex.load(std::memory_order_acquire) : nullptr;
    if (!portUsable(port, m)) return;
    PortSlot& slot = library().slot(port);
    m->lock();
    mutex_ = m;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    const int wanted = kind == GuardKind::Command ? kLinkReady : kLinkAsyncWrite;
    // A slot whose mutex was cleared meanwhile is being released.
    if (!sessionUsable(s, slot.apiMutex.load(std::memory_order_acquire) == m, s != nullptr ? s->linkState.load() : 0,
                       wanted)) {
        return;
    }
    session_ = s;
}

CommandGuard::~CommandGuard() {
    if (mutex_ != nullptr && !keep_) mutex_->unlock();
}

BothGuard::BothGuard(unsigned port) {
    platform::Mutex* a = port < kPortCount ? library().slot(port).apiMutex.load(std::memory_order_acquire) : nullptr;
    if (!portUsable(port, a)) return;
    PortSlot& slot = library().slot(port);
    platform::Mutex* r = slot.ringMutex.load(std::memory_order_acquire);
    if (!portUsable(port, r) || !platform::lockBoth(*a, *r)) {
        recordFailure(Failure::NotActive);
        return;
    }
    api_ = a;
    ring_ = r;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    if (!sessionUsable(s, slot.apiMutex.load(std::memory_order_acquire) == a, s != nullptr ? s->linkState.load() : 0,
                       kLinkReady)) {
        return;
    }
    session_ = s;
}

BothGuard::~BothGuard() {
    if (ring_ != nullptr) ring_->unlock();
    if (api_ != nullptr) api_->unlock();
}

RingGuard::RingGuard(unsigned port) {
    platform::Mutex* m = port < kPortCount ? library().slot(port).ringMutex.load(std::memory_order_acquire) : nullptr;
    if (!portUsable(port, m)) return;
    PortSlot& slot = library().slot(port);
    m->lock();
    mutex_ = m;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    if (!sessionUsable(s, slot.ringMutex.load(std::memory_order_acquire) == m, 0, 0)) return;
    session_ = s;
}

RingGuard::~RingGuard() { release(); }

void RingGuard::release() {
    if (mutex_ != nullptr) mutex_->unlock();
    mutex_ = nullptr;
    session_ = nullptr;
}

}  // namespace nxtka
