#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

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

std::uint32_t lastSystemError() { return static_cast<std::uint32_t>(errno); }

std::string systemErrorText(std::uint32_t code) {
    char buf[256] = {};
    // The GNU strerror_r may return a static text instead of filling buf.
    const auto text = [&](auto r) -> const char* {
        if constexpr (std::is_same_v<decltype(r), char*>) return r;
        else return r == 0 ? buf : "unknown error";
    };
    return text(strerror_r(static_cast<int>(code), buf, sizeof buf));
}

std::string defaultDeviceName(unsigned port) { return "/dev/ttyS" + std::to_string(port); }

}  // namespace nxtka::platform
