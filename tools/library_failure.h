// Why the calling thread's last library call failed, as the library says it
// (NXgetLastFailure).
#pragma once

#include <string>

namespace nxtka_cli {

// The library's text, or "no reason given" when it recorded none.
std::string libraryReason();

}  // namespace nxtka_cli
