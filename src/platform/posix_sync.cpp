// Mutex, lockBoth, Event and waitAny on pthreads; pollable events mirror their
// state on an eventfd.
#include "platform/platform.h"
#include "platform/posix_deadline.h"
#include "platform/posix_tsan.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace nxtka::platform {
namespace {

// The calling thread's identity as a plain word, so the owner field can be an
// atomic. pthread_self() is a register read; a thread_local would cost a call
// in a shared library.
const void* self() { return reinterpret_cast<const void*>(pthread_self()); }

// Condition variables here time out against the monotonic clock.
void initMonotonicCond(pthread_cond_t& cv) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cv, &attr);
    pthread_condattr_destroy(&attr);
}

class Lock {
public:
    explicit Lock(pthread_mutex_t& m) : m_(m) { pthread_mutex_lock(&m_); }
    ~Lock() { pthread_mutex_unlock(&m_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    pthread_mutex_t& m_;
};

// One waitAny call, registered with every event it waits for.
struct Waiter {
    pthread_mutex_t m;
    pthread_cond_t cv;
    bool fired = false;
    Waiter() {
        pthread_mutex_init(&m, nullptr);
        initMonotonicCond(cv);
    }
    ~Waiter() {
        pthread_cond_destroy(&cv);
        pthread_mutex_destroy(&m);
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;
};

}  // namespace

// ---------------------------------------------------------------- mutex

struct Mutex::Impl {
    pthread_mutex_t m;
    std::atomic<const void*> owner{nullptr};
    unsigned depth = 0;  // touched by the owner only

    Impl() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&m, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~Impl() { pthread_mutex_destroy(&m); }

    bool ownedByCaller() const { return owner.load(std::memory_order_relaxed) == self(); }
    void took() {
        owner.store(self(), std::memory_order_relaxed);
        depth = 1;
    }
};

Mutex::Mutex(bool owned) : impl_(std::make_unique<Impl>()) {
    if (owned) lock();
}

Mutex::~Mutex() {
    // Destroying a locked pthread mutex is undefined; release what the
    // destroying thread still holds.
    if (impl_->ownedByCaller()) {
        impl_->depth = 0;
        impl_->owner.store(nullptr, std::memory_order_relaxed);
        pthread_mutex_unlock(&impl_->m);
    }
}

void Mutex::lock() {
    if (impl_->ownedByCaller()) {
        ++impl_->depth;
        return;
    }
    pthread_mutex_lock(&impl_->m);
    impl_->took();
}

bool Mutex::tryLock() {
    if (impl_->ownedByCaller()) {
        ++impl_->depth;
        return true;
    }
    if (pthread_mutex_trylock(&impl_->m) != 0) return false;
    impl_->took();
    return true;
}

bool Mutex::lockFor(std::uint32_t ms) {
    if (ms == kInfinite) {
        lock();
        return true;
    }
    if (ms == 0) return tryLock();
    if (impl_->ownedByCaller()) {
        ++impl_->depth;
        return true;
    }
    // On the monotonic clock, so setting the wall clock cannot stretch the wait.
    const timespec until = deadlineAfter(CLOCK_MONOTONIC, ms);
    int rc;
    tsanBeforeTimedLock(&impl_->m);
    do {
        rc = pthread_mutex_clocklock(&impl_->m, CLOCK_MONOTONIC, &until);
    } while (rc == EINTR);
    tsanAfterTimedLock(&impl_->m, rc == 0);
    if (rc != 0) return false;
    impl_->took();
    return true;
}

bool Mutex::unlock() {
    if (!impl_->ownedByCaller()) return false;
    if (--impl_->depth == 0) {
        impl_->owner.store(nullptr, std::memory_order_relaxed);
        pthread_mutex_unlock(&impl_->m);
    }
    return true;
}

bool lockBoth(Mutex& a, Mutex& b, std::uint32_t ms) {
    if (&a == &b) {
        // Owned twice, so that the caller's two unlocks match.
        if (!a.lockFor(ms)) return false;
        a.lock();
        return true;
    }
    const std::uint32_t start = tickCount();
    Mutex* first = &a;
    Mutex* second = &b;
    for (;;) {
        std::uint32_t left = kInfinite;
        if (ms != kInfinite) {
            const std::uint32_t elapsed = tickCount() - start;
            left = elapsed >= ms ? 0 : ms - elapsed;
        }
        if (!first->lockFor(left)) return false;
        if (second->tryLock()) return true;
        first->unlock();
        // Block next on the one that was busy, then try the other.
        std::swap(first, second);
        if (ms != kInfinite && tickCount() - start >= ms) return false;
    }
}

// ---------------------------------------------------------------- events

struct Event::Impl {
    pthread_mutex_t m;
    pthread_cond_t cv;
    bool signalled = false;
    int fd = -1;  // eventfd of a pollable event: readable exactly while signalled
    std::vector<Waiter*> waiters;

    Impl(bool pollable, bool initially) {
        pthread_mutex_init(&m, nullptr);
        initMonotonicCond(cv);
        if (pollable) {
            fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            // Descriptor 0 means "no event" to applications; keep clear of
            // the standard descriptors.
            if (fd >= 0 && fd < 3) {
                const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
                ::close(fd);
                fd = moved;
            }
        }
        if (initially) setLocked();
    }
    ~Impl() {
        if (fd >= 0) ::close(fd);
        pthread_cond_destroy(&cv);
        pthread_mutex_destroy(&m);
    }

    void setLocked() {
        if (signalled) return;
        signalled = true;
        if (fd >= 0) {
            const std::uint64_t one = 1;
            while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
            }
        }
        pthread_cond_broadcast(&cv);
        for (Waiter* w : waiters) {
            Lock lw(w->m);
            w->fired = true;
            pthread_cond_signal(&w->cv);
        }
    }
    void resetLocked() {
        if (!signalled) return;
        signalled = false;
        if (fd >= 0) {
            std::uint64_t count = 0;
            while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
            }
        }
    }
};

Event::Event(bool pollable, bool signalled) : impl_(std::make_unique<Impl>(pollable, signalled)) {}
Event::~Event() = default;

void Event::set() {
    Lock l(impl_->m);
    impl_->setLocked();
}

void Event::reset() {
    Lock l(impl_->m);
    impl_->resetLocked();
}

bool Event::isSet() const {
    Lock l(impl_->m);
    return impl_->signalled;
}

bool Event::wait(std::uint32_t ms) {
    Lock l(impl_->m);
    if (ms == kInfinite) {
        while (!impl_->signalled) pthread_cond_wait(&impl_->cv, &impl_->m);
        return true;
    }
    const timespec until = deadlineAfter(CLOCK_MONOTONIC, ms);
    while (!impl_->signalled) {
        if (pthread_cond_timedwait(&impl_->cv, &impl_->m, &until) == ETIMEDOUT) break;
    }
    return impl_->signalled;
}

std::intptr_t Event::nativeHandle() const { return impl_->fd >= 0 ? impl_->fd : 0; }

int waitAny(Event* const* events, int count, std::uint32_t ms) {
    bool any = false;
    for (int i = 0; i < count; ++i) any = any || events[i] != nullptr;
    if (!any) {
        if (ms != kInfinite) sleepMs(ms);
        return -1;
    }
    const timespec until = deadlineAfter(CLOCK_MONOTONIC, ms == kInfinite ? 0 : ms);
    Waiter w;
    for (;;) {
        int found = -1;
        int registered = 0;
        for (; registered < count; ++registered) {
            Event* e = events[registered];
            if (e == nullptr) continue;
            Event::Impl& ei = e->impl();
            Lock l(ei.m);
            if (ei.signalled) {
                found = registered;
                break;
            }
            ei.waiters.push_back(&w);
        }
        bool fired = false;
        if (found < 0) {
            Lock lw(w.m);
            while (!w.fired) {
                if (ms == kInfinite) {
                    pthread_cond_wait(&w.cv, &w.m);
                } else if (pthread_cond_timedwait(&w.cv, &w.m, &until) == ETIMEDOUT) {
                    break;
                }
            }
            fired = w.fired;
            w.fired = false;
        }
        for (int i = 0; i < registered; ++i) {
            Event* e = events[i];
            if (e == nullptr) continue;
            Event::Impl& ei = e->impl();
            Lock l(ei.m);
            auto it = std::find(ei.waiters.begin(), ei.waiters.end(), &w);
            if (it != ei.waiters.end()) ei.waiters.erase(it);
        }
        if (found >= 0) return found;
        for (int i = 0; i < count; ++i) {
            if (events[i] != nullptr && events[i]->isSet()) return i;
        }
        // Timed out, or the event that fired was reset again before we looked.
        if (!fired) return -1;
    }
}

}  // namespace nxtka::platform
