// Time on Windows: the system tick counter, the system clock and Sleep.
#include "platform/platform.h"

#include <windows.h>

namespace nxtka::platform {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

namespace {

using ClockReader = VOID(WINAPI*)(LPFILETIME);

// The precise system time where the system has it (Windows 8 on), else the
// plain one, which moves in ticks of the system timer.
ClockReader systemClock() {
    static const ClockReader reader = [] {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        void* precise = kernel != nullptr ? reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime"))
                                          : nullptr;
        return precise != nullptr ? reinterpret_cast<ClockReader>(precise) : &GetSystemTimeAsFileTime;
    }();
    return reader;
}

}  // namespace

std::int64_t realtimeNs() {
    // 100 ns units since 1601-01-01.
    constexpr std::int64_t kUnitsFrom1601To1970 = 116444736000000000;
    FILETIME ft{};
    systemClock()(&ft);
    const std::int64_t units = static_cast<std::int64_t>(std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime);
    return (units - kUnitsFrom1601To1970) * 100;
}

void sleepMs(std::uint32_t ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace nxtka::platform
