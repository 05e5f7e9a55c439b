// `send --wait`: the library has no way to hand over the raw bytes that come
// back, so for this service use the tool opens the device itself (exclusive
// and locked, as the library does), writes the bytes and collects whatever
// arrives within the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nxtka_cli {

// Throws ToolError when the device cannot be opened, set up or written.
std::vector<std::uint8_t> exchangeRaw(const std::string& device, std::int32_t baud,
                                      const std::vector<std::uint8_t>& bytes, int waitMs);

// Whether exchangeRaw can set this line speed.
bool rawSpeedSupported(std::int64_t baud);

}  // namespace nxtka_cli
