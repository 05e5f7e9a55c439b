// Threads on Windows.
//
// join() waits for the thread object itself, so no instruction of the thread
// can still be running in the library when join() returns, even if the library
// is unmapped right after. A thread that ends normally takes the loader lock
// (for the per-thread detach notifications), which the unloading thread holds
// while the library closes its ports at unload. So once unload has begun, a
// thread whose work is done ends itself with TerminateThread instead: that
// needs no lock, and at that point it holds no lock of its own.
#include "platform/platform.h"

#include <windows.h>
#include <process.h>

#include <atomic>
#include <climits>

namespace nxtka::platform {
namespace {

std::atomic<bool> gUnloading{false};

}  // namespace

void beginLibraryUnload() { gUnloading.store(true); }

struct Thread::Impl {
    HANDLE thread = nullptr;
    Entry entry = nullptr;
    void* arg = nullptr;
    std::atomic<bool> joined{false};

    static unsigned __stdcall main(void* p) {
        auto* self = static_cast<Impl*>(p);
        self->entry(self->arg);
        if (gUnloading.load()) TerminateThread(GetCurrentThread(), 0);
        return 0;
    }

    void close() {
        if (thread != nullptr) CloseHandle(thread);
        thread = nullptr;
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
    t.entry = entry;
    t.arg = arg;
    t.joined = false;
    const unsigned stack = stackBytes > UINT_MAX ? UINT_MAX : static_cast<unsigned>(stackBytes);
    // _beginthreadex rather than CreateThread, so the C runtime knows the thread.
    const std::uintptr_t h = _beginthreadex(nullptr, stack, &Impl::main, &t, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                            nullptr);
    if (h == 0) return false;
    t.thread = reinterpret_cast<HANDLE>(h);
    return true;
}

bool Thread::running() const {
    const Impl& t = *impl_;
    if (t.thread == nullptr || t.joined.load()) return false;
    DWORD code = 0;
    return GetExitCodeThread(t.thread, &code) != FALSE && code == STILL_ACTIVE;
}

bool Thread::join(std::uint32_t ms) {
    Impl& t = *impl_;
    if (t.thread == nullptr || t.joined.load()) return true;
    // A thread ended by the system at process exit is signalled as well.
    if (WaitForSingleObject(t.thread, ms) != WAIT_OBJECT_0) return false;
    t.joined = true;
    return true;
}

}  // namespace nxtka::platform
