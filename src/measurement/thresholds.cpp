// Threshold pairs, in the normalized scale of the session's polarity.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "nxtka.h"

using namespace nxtka;

namespace {

// The levels are checked under the guard: the polarity they convert with is
// the session's.
std::int32_t setPair(unsigned port, ValueCommand command, double upper, double lower) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const auto word = codec::thresholdPair(upper, lower, s.bipolar.load() != 0);
        if (!word) return refuseArgument("threshold levels outside the scale or not in order");
        return sendSetting(s, command, *word) ? 0 : -1;
    });
}

std::int32_t getPair(unsigned port, WordQuery query, double* upper, double* lower) {
    if (upper == nullptr || lower == nullptr) return refuseArgument("null level pointer");
    return guardedQuery(port, query, [&](PortSession& s, std::uint32_t word) -> std::int32_t {
        const bool bipolar = s.bipolar.load() != 0;
        *upper = codec::thresholdLevel(word >> 16, bipolar);
        *lower = codec::thresholdLevel(word & 0xFFFF, bipolar);
        return 0;
    });
}

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAsetThreshold(uint32_t port, double upper, double lower) {
    return setPair(port, cmd::kSetThreshold, upper, lower);
}
NXTKA_API int32_t NXTKA_CALL TKAgetThreshold(uint32_t port, double* upper, double* lower) {
    return getPair(port, cmd::kGetThreshold, upper, lower);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSecondThreshold(uint32_t port, double upper, double lower) {
    return setPair(port, cmd::kSetSecondThreshold, upper, lower);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSecondThreshold(uint32_t port, double* upper, double* lower) {
    return getPair(port, cmd::kGetSecondThreshold, upper, lower);
}
