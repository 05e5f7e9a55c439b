#include "core/port_guard.h"

namespace nxtka {

CommandGuard::CommandGuard(unsigned port, GuardKind kind) {
    if (port >= kPortCount) return;
    PortSlot& slot = library().slot(port);
    platform::Mutex* m = slot.apiMutex.load(std::memory_order_acquire);
    if (m == nullptr) return;
    m->lock();
    mutex_ = m;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    const int wanted = kind == GuardKind::Command ? kLinkReady : kLinkAsyncWrite;
    // A slot whose mutex was cleared meanwhile is being released.
    if (s == nullptr || slot.apiMutex.load(std::memory_order_acquire) != m || s->linkState.load() != wanted) return;
    session_ = s;
}

CommandGuard::~CommandGuard() {
    if (mutex_ != nullptr && !keep_) mutex_->unlock();
}

BothGuard::BothGuard(unsigned port) {
    if (port >= kPortCount) return;
    PortSlot& slot = library().slot(port);
    platform::Mutex* a = slot.apiMutex.load(std::memory_order_acquire);
    platform::Mutex* r = slot.ringMutex.load(std::memory_order_acquire);
    if (a == nullptr || r == nullptr) return;
    if (!platform::lockBoth(*a, *r)) return;
    api_ = a;
    ring_ = r;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    if (s == nullptr || slot.apiMutex.load(std::memory_order_acquire) != a || s->linkState.load() != kLinkReady) return;
    session_ = s;
}

BothGuard::~BothGuard() {
    if (ring_ != nullptr) ring_->unlock();
    if (api_ != nullptr) api_->unlock();
}

RingGuard::RingGuard(unsigned port) {
    if (port >= kPortCount) return;
    PortSlot& slot = library().slot(port);
    platform::Mutex* m = slot.ringMutex.load(std::memory_order_acquire);
    if (m == nullptr) return;
    m->lock();
    mutex_ = m;
    PortSession* s = slot.session.load(std::memory_order_acquire);
    if (s == nullptr || slot.ringMutex.load(std::memory_order_acquire) != m) return;
    session_ = s;
}

RingGuard::~RingGuard() {
    if (mutex_ != nullptr) mutex_->unlock();
}

}  // namespace nxtka
