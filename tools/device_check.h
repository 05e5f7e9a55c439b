// Explanations for a device the library could not use. The library reports
// every failure as -1, so the tool looks at the device path itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nxtka_cli {

// Before activation: the path exists and is a character device. Returns the
// one-line complaint, or nothing when the path looks usable.
std::optional<std::string> precheckDevice(const std::string& path);

// After a failed activation: opens the device the way the library does
// (exclusive, with flock) and says why that fails. Nothing when the device
// opens fine, so the failure lies with the amplifier.
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
