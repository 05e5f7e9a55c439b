// Mutexes and events on Windows: kernel objects, so that every event is a
// waitable handle an application can be given, and so that "wait for both"
// is one WaitForMultipleObjects call.
#include "platform/platform.h"

#include <windows.h>

#include <vector>

namespace nxtka::platform {
namespace {

// An abandoned mutex (its owner ended without releasing it) is owned by the
// waiter all the same; the data it guards is the library's own, still valid.
bool acquired(DWORD r, DWORD count) {
    return r < WAIT_OBJECT_0 + count || (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count);
}

}  // namespace

// ---------------------------------------------------------------- mutex

struct Mutex::Impl {
    HANDLE h = nullptr;
};

Mutex::Mutex(bool owned) : impl_(std::make_unique<Impl>()) {
    impl_->h = CreateMutexW(nullptr, owned ? TRUE : FALSE, nullptr);
}

Mutex::~Mutex() {
    if (impl_->h != nullptr) CloseHandle(impl_->h);
}

void Mutex::lock() { WaitForSingleObject(impl_->h, INFINITE); }

bool Mutex::tryLock() { return acquired(WaitForSingleObject(impl_->h, 0), 1); }

bool Mutex::lockFor(std::uint32_t ms) { return acquired(WaitForSingleObject(impl_->h, ms), 1); }

// ReleaseMutex fails (ERROR_NOT_OWNER) for a thread that does not own it.
bool Mutex::unlock() { return ReleaseMutex(impl_->h) != FALSE; }

bool lockBoth(Mutex& a, Mutex& b, std::uint32_t ms) {
    if (&a == &b) {
        // WaitForMultipleObjects refuses the same handle twice; a recursive
        // mutex taken twice is what the caller will unlock twice.
        if (!a.lockFor(ms)) return false;
        a.lock();
        return true;
    }
    const HANDLE both[2] = {a.impl_->h, b.impl_->h};
    return acquired(WaitForMultipleObjects(2, both, TRUE, ms), 2);
}

// ---------------------------------------------------------------- events

struct Event::Impl {
    HANDLE h = nullptr;
};

// Every event is a manual-reset event object; "pollable" costs nothing more.
Event::Event(bool /*pollable*/, bool signalled) : impl_(std::make_unique<Impl>()) {
    impl_->h = CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
}

Event::~Event() {
    if (impl_->h != nullptr) CloseHandle(impl_->h);
}

void Event::set() { SetEvent(impl_->h); }

void Event::reset() { ResetEvent(impl_->h); }

bool Event::isSet() const { return WaitForSingleObject(impl_->h, 0) == WAIT_OBJECT_0; }

bool Event::wait(std::uint32_t ms) { return WaitForSingleObject(impl_->h, ms) == WAIT_OBJECT_0; }

std::intptr_t Event::nativeHandle() const { return reinterpret_cast<std::intptr_t>(impl_->h); }

int waitAny(Event* const* events, int count, std::uint32_t ms) {
    std::vector<HANDLE> handles;
    std::vector<int> index;
    for (int i = 0; i < count; ++i) {
        if (events[i] == nullptr) continue;
        handles.push_back(reinterpret_cast<HANDLE>(events[i]->nativeHandle()));
        index.push_back(i);
    }
    if (handles.empty()) {
        Sleep(ms);
        return -1;
    }
    if (handles.size() <= MAXIMUM_WAIT_OBJECTS) {
        const auto n = static_cast<DWORD>(handles.size());
        const DWORD r = WaitForMultipleObjects(n, handles.data(), FALSE, ms);
        return r < WAIT_OBJECT_0 + n ? index[r - WAIT_OBJECT_0] : -1;
    }
    // More handles than one wait takes: look at them in turn, then rest a
    // millisecond, until the time is up.
    const DWORD start = GetTickCount();
    for (;;) {
        for (std::size_t i = 0; i < handles.size(); ++i) {
            if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) return index[i];
        }
        if (ms != kInfinite && GetTickCount() - start >= ms) return -1;
        Sleep(1);
    }
}

}  // namespace nxtka::platform
