// Why the calling thread's last library call failed, as the library says it
// (NXgetLastFailure).
#pragma once

#include <cstdint>
#include <string>

namespace nxtka_cli {

struct LibraryFailure {
    std::int32_t code = 0;  // NXTKA_FAILURE_*, 0 when none was recorded
    std::string text;       // empty when none was recorded
};

LibraryFailure lastLibraryFailure();

}  // namespace nxtka_cli
