// Analog filter and adaptive filter: learn values, mask, and the threshold
// the mask stands for.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAsetAnalogFilter(uint32_t port, double value) {
    // checked after the port checks, as the amplifier's documentation has it
    return setEncodedInSession(port, cmd::kSetAnalogFilter, "analog filter outside 0.5..32767.5",
                               [&](const PortSession&) { return codec::analogFilterWord(value); });
}
NXTKA_API double NXTKA_CALL TKAgetAnalogFilter(uint32_t port) {
    return guardedQuery(port, cmd::kGetAnalogFilter,
                        [](PortSession&, std::uint32_t word) { return codec::analogFilter(word); });
}

NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterLearnVals(uint32_t port, int32_t count) {
    return setChecked(port, cmd::kSetAdaptFilterLearnVals, count);
}
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterLearnVals(uint32_t port) {
    return guardedGet(port, cmd::kGetAdaptFilterLearnVals);
}

NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterMask(uint32_t port, int32_t mask) {
    if (!codec::isAdaptFilterMask(mask)) return refuseArgument("not an adaptive-filter mask");
    return setLowBytes(port, cmd::kSetAdaptFilterMask, static_cast<std::uint32_t>(mask));
}
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterMask(uint32_t port) { return guardedGet(port, cmd::kGetAdaptFilterMask); }

NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterThreshold(uint32_t port, double threshold) {
    // the mask a threshold stands for is always one the amplifier accepts
    return setEncoded(port, cmd::kSetAdaptFilterMask, codec::adaptFilterMask(threshold),
                      "adaptive-filter threshold not above 0");
}
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterThreshold(uint32_t port, double* threshold) {
    if (threshold == nullptr) return refuseArgument("null threshold");
    return guardedQueryCheckedInto(port, cmd::kGetAdaptFilterMask, threshold,
                                   "adaptive-filter mask outside 0xFF0000..0xFFFF00", codec::adaptFilterThreshold);
}
