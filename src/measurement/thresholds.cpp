// Threshold pairs, in the normalized scale of the session's polarity.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "nxtka.h"

using namespace nxtka;

namespace {

// The levels are checked under the guard: the polarity they convert with is
// the session's.
constexpr const char* kPairRefused = "threshold levels outside the scale or not in order";

// A pair's answer, the upper level in its high half, decoded into the
// caller's two levels.
auto levelsInto(double* upper, double* lower) {
    return [=](PortSession& s, std::uint32_t word) -> std::int32_t {
        const bool bipolar = bipolarOf(s);
        *upper = codec::thresholdLevel(word >> 16, bipolar);
        *lower = codec::thresholdLevel(word & 0xFFFF, bipolar);
        return 0;
    };
}

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAsetThreshold(uint32_t port, double upper, double lower) {
    return setEncodedInSession(port, cmd::kSetThreshold, kPairRefused, [&](const PortSession& s) {
        return codec::thresholdPair(upper, lower, bipolarOf(s));
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetThreshold(uint32_t port, double* upper, double* lower) {
    if (upper == nullptr || lower == nullptr) return refuseArgument("null level pointer");
    return guardedQuery(port, cmd::kGetThreshold, levelsInto(upper, lower));
}
NXTKA_API int32_t NXTKA_CALL TKAsetSecondThreshold(uint32_t port, double upper, double lower) {
    return setEncodedInSession(port, cmd::kSetSecondThreshold, kPairRefused, [&](const PortSession& s) {
        return codec::thresholdPair(upper, lower, bipolarOf(s));
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetSecondThreshold(uint32_t port, double* upper, double* lower) {
    if (upper == nullptr || lower == nullptr) return refuseArgument("null level pointer");
    return guardedQuery(port, cmd::kGetSecondThreshold, levelsInto(upper, lower));
}
