// Exports of the input-range and device-query families that the table code
// asks, referenced weakly while those families are not yet part of the
// library: a missing one fails like an unanswered query. Once they are in,
// these wrappers become plain calls and this file goes.
#pragma once

#include "nxtka.h"

#include <cstdint>

// The input range (declared with its family in nxtka.h once that is in).
extern "C" NXTKA_API double NXTKA_CALL TKAgetRange(uint32_t port);

#pragma weak TKAgetRange
#pragma weak TKAgetRanges
#pragma weak TKAisCommandAvailable

namespace nxtka::pending {

inline bool haveRangeQueries() { return TKAgetRange != nullptr && TKAgetRanges != nullptr; }
inline bool haveCommandQuery() { return TKAisCommandAvailable != nullptr; }

inline double getRange(unsigned port) { return TKAgetRange != nullptr ? TKAgetRange(port) : -1.0; }
inline std::int32_t getRanges(unsigned port, unsigned first, unsigned second, double* value) {
    return TKAgetRanges != nullptr ? TKAgetRanges(port, first, second, value) : -1;
}
inline std::int32_t isCommandAvailable(unsigned port, unsigned first, unsigned second) {
    return TKAisCommandAvailable != nullptr ? TKAisCommandAvailable(port, first, second) : -1;
}

}  // namespace nxtka::pending
