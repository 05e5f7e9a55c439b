// Threads on Windows.
//
// join() waits for the thread to have left the library's code, not for the
// thread object to end: a thread ending takes the loader lock, which the
// unloading thread holds while the library closes its ports at unload, so
// waiting for the thread object there would never end.
#include "platform/platform.h"

#include <windows.h>
#include <process.h>

#include <atomic>
#include <climits>

namespace nxtka::platform {
namespace {

// How long join() waits for the thread object once the thread's entry has
// returned; it ends at once unless the loader lock holds it up.
constexpr DWORD kExitGraceMs = 20;

}  // namespace

struct Thread::Impl {
    HANDLE thread = nullptr;
    HANDLE finished = nullptr;  // manual-reset, set when the entry has returned
    Entry entry = nullptr;
    void* arg = nullptr;
    std::atomic<bool> joined{false};

    static unsigned __stdcall main(void* p) {
        auto* self = static_cast<Impl*>(p);
        self->entry(self->arg);
        SetEvent(self->finished);
        return 0;
    }

    void close() {
        if (thread != nullptr) CloseHandle(thread);
        if (finished != nullptr) CloseHandle(finished);
        thread = finished = nullptr;
    }
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    join(kInfinite);
    impl_->close();
}

bool Thread::start(Entry entry, void* arg, std::size_t stackBytes) {
    Impl& t = *impl_;
    if (t.thread != nullptr && !join(kInfinite)) return false;
    t.close();
    t.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (t.finished == nullptr) return false;
    t.entry = entry;
    t.arg = arg;
    t.joined = false;
    const unsigned stack = stackBytes > UINT_MAX ? UINT_MAX : static_cast<unsigned>(stackBytes);
    // _beginthreadex rather than CreateThread, so the C runtime knows the thread.
    const std::uintptr_t h = _beginthreadex(nullptr, stack, &Impl::main, &t, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                            nullptr);
    if (h == 0) {
        t.close();
        return false;
    }
    t.thread = reinterpret_cast<HANDLE>(h);
    return true;
}

bool Thread::running() const {
    const Impl& t = *impl_;
    if (t.thread == nullptr || t.joined.load()) return false;
    if (WaitForSingleObject(t.finished, 0) == WAIT_OBJECT_0) return false;
    DWORD code = 0;
    return GetExitCodeThread(t.thread, &code) != FALSE && code == STILL_ACTIVE;
}

bool Thread::join(std::uint32_t ms) {
    Impl& t = *impl_;
    if (t.thread == nullptr || t.joined.load()) return true;
    // The thread object too: a thread killed at process exit never sets
    // `finished`, but its object is signalled.
    const HANDLE either[2] = {t.finished, t.thread};
    const DWORD r = WaitForMultipleObjects(2, either, FALSE, ms);
    if (r != WAIT_OBJECT_0 && r != WAIT_OBJECT_0 + 1) return false;
    if (r == WAIT_OBJECT_0) WaitForSingleObject(t.thread, kExitGraceMs);
    t.joined = true;
    return true;
}

}  // namespace nxtka::platform
