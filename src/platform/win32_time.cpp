// Time on Windows: the system tick counter, the system clock and Sleep.
#include "platform/platform.h"

#include <windows.h>

namespace nxtka::platform {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

std::int64_t realtimeNs() {
    // 100 ns units since 1601-01-01, the best the system's clock offers.
    constexpr std::int64_t kUnitsFrom1601To1970 = 116444736000000000;
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    const std::int64_t units = static_cast<std::int64_t>(std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime);
    return (units - kUnitsFrom1601To1970) * 100;
}

void sleepMs(std::uint32_t ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace nxtka::platform
