#include "platform/platform.h"
#include "platform/posix_deadline.h"

#include <cerrno>
#include <ctime>
#include <sched.h>

namespace nxtka::platform {

std::uint32_t tickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::int64_t realtimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepMs(std::uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    const timespec until = deadlineAfter(CLOCK_MONOTONIC, ms);
    // Absolute deadline, so a signal that interrupts the sleep does not stretch it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace nxtka::platform
