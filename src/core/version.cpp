// Library version and the amplifier's model.
#include "core/port_guard.h"
#include "nxtka.h"

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL TKAversion(void) {
    std::uint32_t high = 0, low = 0;
    return platform::libraryFileVersion(high, low) ? static_cast<int32_t>(high) : -1;
}

NXTKA_API int32_t NXTKA_CALL TKArevision(void) {
    std::uint32_t high = 0, low = 0;
    return platform::libraryFileVersion(high, low) ? static_cast<int32_t>(low) : -1;
}

NXTKA_API int32_t NXTKA_CALL TKAmodel(uint32_t port) {
    CommandGuard guard(port);
    return guard.ok() ? guard.session().deviceLevel.load() : -1;
}

}  // extern "C"
