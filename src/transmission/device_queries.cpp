// Device queries, interface lock and range table access.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/range_table.h"
#include "nxtka.h"

#include <algorithm>

using namespace nxtka;

namespace {

constexpr std::uint32_t kCommandAvailable = 0xA0;
constexpr std::uint32_t kLargestCode = 255;

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAgetDeviceType(uint32_t port) { return guardedGet(port, cmd::kGetDeviceType); }
NXTKA_API int32_t NXTKA_CALL TKAgetLastError(uint32_t port) { return guardedGet(port, cmd::kGetLastError); }
NXTKA_API int32_t NXTKA_CALL TKAisCommandAvailable(uint32_t port, uint32_t first, uint32_t second) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (first > kLargestCode || second > kLargestCode) return refuseArgument("command code above 255");
        const std::uint32_t codes = (std::max(first, second) << 8) | std::min(first, second);
        std::uint32_t answer = 0;
        if (!requestValue(s, cmd::kIsCommandAvailable, CommandParam::of(codes), answer)) return -1;
        return answer == kCommandAvailable ? 1 : 0;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAlockUII(uint32_t port) { return guardedGet(port, cmd::kLockInterface); }
NXTKA_API int32_t NXTKA_CALL TKAunlockUII(uint32_t port) { return sendAlone(port, cmd::kUnlockInterface); }
NXTKA_API int32_t NXTKA_CALL TKAgetRanges(uint32_t port, uint32_t first, uint32_t second, double* value) {
    if (first > ranges::kLargestSelector || second > ranges::kLargestSelector) {
        return refuseArgument("range entry outside 0..15");
    }
    return underGuard(port, [&](PortSession& s) { return ranges::readEntry(s, first, second, value); });
}
NXTKA_API int32_t NXTKA_CALL TKAsetRanges(uint32_t port, int32_t first, int32_t second, double value) {
    const auto raw = codec::signMagnitudeHundredths(value);  // checked first, whatever the port
    return raw ? ranges::setEntry(port, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(second), *raw)
               : refuseArgument(ranges::kValueRefused);
}
