// The amplifier's user memory as the block transfers and the linearization
// tables use it: the settling time and single steps tried again after the
// answers that may pass.
#pragma once

#include <cstdint>

namespace nxtka::memory {

inline constexpr std::uint32_t kSize = 1024;
inline constexpr std::int32_t kNoAnswer = 255;
inline constexpr std::int32_t kUnknownAnswer = 16;

// The settling time in milliseconds (0..1000), asked up to three times.
bool settlingMs(unsigned port, std::uint32_t& ms);

// TKAreadMemory / TKAwriteMemory up to three times: a pause of firstDelayMs
// before the first, 250 ms before each further one; tried again only after
// no answer or an unknown answer. The last attempt's result; its status code
// goes to `status` when given.
std::int32_t readRetry(unsigned port, std::uint32_t firstDelayMs, std::uint32_t address, std::uint8_t* data,
                       std::int32_t* status);
std::int32_t writeRetry(unsigned port, std::uint32_t firstDelayMs, std::uint32_t address, bool flag,
                        std::uint8_t data, std::int32_t* status);

}  // namespace nxtka::memory
