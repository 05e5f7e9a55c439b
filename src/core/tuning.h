// Internal knobs for tests that cycle activations by the thousand. Never
// exported; the library itself never changes them.
#pragma once

#include <cstdint>

namespace nxtka {

// The pause after opening a device, which lets a freshly powered line
// settle (250 ms).
std::uint32_t settleAfterOpenMs();
void setSettleAfterOpenMs(std::uint32_t ms);

}  // namespace nxtka
