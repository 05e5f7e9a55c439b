// What `info` and `demo` show about an activated amplifier.
#pragma once

#include "active_port.h"
#include "settings.h"

#include <functional>
#include <string>
#include <vector>

namespace nxtka_cli {

// "1.53.0.32", the library's version.
std::string libraryVersion();

using Identity = std::vector<std::pair<const Setting*, Reading>>;

// Every setting the table labels for `info`, read in turn; `beforeEach`
// runs before each read (a safe point for Ctrl-C).
Identity readIdentity(const ActivePort& port, const std::function<void()>& beforeEach);

// The device, the library, and the settings, one "  label  value" line each.
void printIdentity(const ActivePort& port, const Identity& identity);

}  // namespace nxtka_cli
