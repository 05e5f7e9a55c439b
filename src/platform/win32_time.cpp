// Time on Windows: the system tick counter and Sleep.
#include "platform/platform.h"

#include <windows.h>

namespace nxtka::platform {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

void sleepMs(std::uint32_t ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace nxtka::platform
