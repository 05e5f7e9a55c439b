#include "core/display_state.h"

#include <cmath>

namespace nxtka {

void storeDisplayNorm(PortSession& s, int decimalPoint, std::uint32_t rawNorm) {
    const std::uint32_t norm = rawNorm & ~kDisplayNormSignBit;
    s.displayDecimalPoint = decimalPoint;
    s.displayNormRaw = norm;
    s.displayNorm = std::pow(10.0, static_cast<double>(decimalPoint - 1)) * static_cast<double>(norm) / kDisplayNormUnit;
}

}  // namespace nxtka
