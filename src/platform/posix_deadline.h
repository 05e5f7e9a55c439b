// Absolute deadlines for the POSIX timed waits.
#pragma once

#include <cstdint>
#include <ctime>

namespace nxtka::platform {

// `ms` milliseconds from now on `clock`.
inline timespec deadlineAfter(clockid_t clock, std::uint32_t ms) {
    timespec t{};
    clock_gettime(clock, &t);
    t.tv_sec += static_cast<time_t>(ms / 1000u);
    t.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

}  // namespace nxtka::platform
