// A measured value as the bytes of a value frame. Pure functions.
#pragma once

#include "stream_settings.h"

#include <cstdint>
#include <vector>

namespace nxtka::sim {

// Raw codes of a normalized value, clamped to the code range.
std::uint32_t rawCode24(double value, bool bipolar);
std::uint16_t rawCode16(double value, bool bipolar);
// Factor the library divides text values by: 10^(dp-1) x norm / 5250020.
double displayNormFactor(std::uint8_t decimalPoint, std::uint32_t normRaw);
// One frame of the settings' kind and status; text frames carry value x normFactor.
std::vector<std::uint8_t> encodeFrame(const StreamSettings& s, double value, bool bipolar, double normFactor);

}  // namespace nxtka::sim
