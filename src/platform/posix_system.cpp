#include "platform/platform.h"

namespace nxtka::platform {

bool libraryFileVersion(std::uint32_t& high, std::uint32_t& low) {
#if defined(NXTKA_VERSION_MAJOR) && defined(NXTKA_VERSION_MINOR) && defined(NXTKA_VERSION_PATCH) && \
    defined(NXTKA_VERSION_TWEAK)
    high = (std::uint32_t{NXTKA_VERSION_MAJOR} << 16) | std::uint32_t{NXTKA_VERSION_MINOR};
    low = (std::uint32_t{NXTKA_VERSION_PATCH} << 16) | std::uint32_t{NXTKA_VERSION_TWEAK};
    return true;
#else
    high = low = 0;
    return false;
#endif
}

std::string defaultDeviceName(unsigned port) { return "/dev/ttyS" + std::to_string(port); }

}  // namespace nxtka::platform
