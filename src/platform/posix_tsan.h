// ThreadSanitizer cannot see a lock taken with pthread_mutex_clocklock (its
// runtime has no interceptor for it) and would report the unlock as a misuse
// and the guarded data as racing. These hooks tell it; they are weak, so
// without the sanitizer they are null and cost a test.
#pragma once

extern "C" {
void __tsan_mutex_pre_lock(void* addr, unsigned flags) __attribute__((weak));
void __tsan_mutex_post_lock(void* addr, unsigned flags, int recursion) __attribute__((weak));
}

namespace nxtka::platform {

// The sanitizer's flags for a lock that may fail like a try-lock.
inline constexpr unsigned kTsanTryLock = 1u << 4;
inline constexpr unsigned kTsanTryLockFailed = 1u << 5;

inline void tsanBeforeTimedLock(void* m) {
    if (__tsan_mutex_pre_lock != nullptr) __tsan_mutex_pre_lock(m, kTsanTryLock);
}

inline void tsanAfterTimedLock(void* m, bool taken) {
    if (__tsan_mutex_post_lock != nullptr) {
        __tsan_mutex_post_lock(m, kTsanTryLock | (taken ? 0u : kTsanTryLockFailed), 0);
    }
}

}  // namespace nxtka::platform
