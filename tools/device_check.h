// Explanations for a device the library could not use: the library's reason
// (NXgetLastFailure), made friendlier by a look at the device path itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nxtka_cli {

// Before activation: the path exists and is a character device. Returns the
// one-line complaint, or nothing when the path looks usable.
std::optional<std::string> precheckDevice(const std::string& path);

// Right after a failed activation on the same thread: nothing when the
// amplifier did not answer; for a device failure, opens the device the way
// the library does (exclusive, with flock) and says why that fails, else the
// library's text; for other reasons the library's text.
std::optional<std::string> explainOpenFailure(const std::string& path);

// The other process that holds a lock on the device, else one that has it
// open: "pid 123, nxtka-sim", or empty.
std::string deviceHolder(const std::string& path);

// The other processes that have the device open ("pid 123, cat"), leaving
// out the far end of a pseudo-terminal (whoever holds its master side).
std::vector<std::string> deviceUsers(const std::string& path);

// For a pseudo-terminal /dev/pts/N: the process holding its master side, or
// empty.
std::string pseudoTerminalFarEnd(const std::string& path);

}  // namespace nxtka_cli
