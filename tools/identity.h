// What `info` and `demo` show about an activated amplifier.
#pragma once

#include "active_port.h"

#include <string>

namespace nxtka_cli {

// "1.53.0.32", the library's version.
std::string libraryVersion();

// The device, the library, and every setting the table labels for `info`,
// one "  label  value" line each.
void printIdentity(const ActivePort& port);

}  // namespace nxtka_cli
