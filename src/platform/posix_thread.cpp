#include "platform/platform.h"
#include "platform/posix_deadline.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NXTKA_INSTRUMENTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define NXTKA_INSTRUMENTED 1
#endif
#endif

namespace nxtka::platform {
namespace {

std::size_t effectiveStackSize(std::size_t requested) {
    std::size_t size = requested;
#ifdef NXTKA_INSTRUMENTED
    // Sanitizer runtimes put their own frames and redzones on thread stacks.
    size = std::max<std::size_t>(size * 4, std::size_t{2} << 20);
#endif
    const long minimum = sysconf(_SC_THREAD_STACK_MIN);
    size = std::max(size, static_cast<std::size_t>(minimum > 0 ? minimum : PTHREAD_STACK_MIN));
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t p = page > 0 ? static_cast<std::size_t>(page) : 4096u;
    return (size + p - 1) / p * p;
}

}  // namespace

struct Thread::Impl {
    pthread_mutex_t m;
    pthread_cond_t cv;
    pthread_t handle{};
    bool started = false;  // a pthread exists that has not been joined
    bool done = false;
    Entry entry = nullptr;
    void* arg = nullptr;

    Impl() {
        pthread_mutex_init(&m, nullptr);
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cv, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~Impl() {
        pthread_cond_destroy(&cv);
        pthread_mutex_destroy(&m);
    }

    static void* trampoline(void* p) {
        auto* self = static_cast<Impl*>(p);
        self->entry(self->arg);
        pthread_mutex_lock(&self->m);
        self->done = true;
        pthread_cond_broadcast(&self->cv);
        pthread_mutex_unlock(&self->m);
        return nullptr;
    }
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() { join(kInfinite); }

bool Thread::start(Entry entry, void* arg, std::size_t stackBytes) {
    if (entry == nullptr) return false;
    pthread_mutex_lock(&impl_->m);
    if (impl_->started) {
        if (!impl_->done) {
            pthread_mutex_unlock(&impl_->m);
            return false;
        }
        pthread_join(impl_->handle, nullptr);  // the previous run ended but was not joined
        impl_->started = false;
    }
    impl_->entry = entry;
    impl_->arg = arg;
    impl_->done = false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, effectiveStackSize(stackBytes));
    const int rc = pthread_create(&impl_->handle, &attr, &Impl::trampoline, impl_.get());
    pthread_attr_destroy(&attr);
    impl_->started = rc == 0;
    pthread_mutex_unlock(&impl_->m);
    return rc == 0;
}

bool Thread::running() const {
    pthread_mutex_lock(&impl_->m);
    const bool r = impl_->started && !impl_->done;
    pthread_mutex_unlock(&impl_->m);
    return r;
}

bool Thread::join(std::uint32_t ms) {
    Impl& i = *impl_;
    pthread_mutex_lock(&i.m);
    if (!i.started) {
        pthread_mutex_unlock(&i.m);
        return true;
    }
    if (ms == kInfinite) {
        while (!i.done) pthread_cond_wait(&i.cv, &i.m);
    } else {
        const timespec until = deadlineAfter(CLOCK_MONOTONIC, ms);
        while (!i.done) {
            if (pthread_cond_timedwait(&i.cv, &i.m, &until) == ETIMEDOUT) break;
        }
    }
    if (!i.done) {
        pthread_mutex_unlock(&i.m);
        return false;
    }
    // The thread only returns after setting `done`; joining it under the
    // mutex keeps concurrent join() calls from joining twice.
    pthread_join(i.handle, nullptr);
    i.started = false;
    pthread_mutex_unlock(&i.m);
    return true;
}

// pthread_join() takes no lock that unloading holds.
void beginLibraryUnload() {}

}  // namespace nxtka::platform
