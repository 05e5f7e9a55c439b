// The line of a device file (INI or TOML, read by the command-line parser)
// that the parser refused, found again to say where: the first line that is
// not a KEY = VALUE (or a bare flag) with a key the device file takes.
#pragma once

#include <functional>
#include <string>

namespace nxtka::sim {

// "FILE:LINE: why", or empty when every line looks right.
std::string deviceFileProblem(const std::string& path, const std::function<bool(const std::string& key)>& takesKey);

}  // namespace nxtka::sim
