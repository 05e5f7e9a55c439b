// Bridge, strain-gauge factors and input range.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/range_table.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAgetBridge(uint32_t port) { return guardedGet(port, cmd::kGetBridge); }
NXTKA_API int32_t NXTKA_CALL TKAsetBridge(uint32_t port, int32_t value) {
    return setChecked(port, cmd::kSetBridge, value);
}
NXTKA_API int32_t NXTKA_CALL TKAgetBridgeType(uint32_t port) { return fieldOf(TKAgetBridge(port), bridge::kType); }
NXTKA_API int32_t NXTKA_CALL TKAsetBridgeType(uint32_t port, int32_t type) {
    if (type < 0 || static_cast<std::uint32_t>(type) > (bridge::kType.mask() >> bridge::kType.shift)) {
        return refuseArgument("bridge type outside 0..7");
    }
    return setField(port, TKAgetBridge, TKAsetBridge, bridge::kType, static_cast<std::uint32_t>(type));
}
NXTKA_API int32_t NXTKA_CALL TKAgetBridgeInternal(uint32_t port) {
    return fieldOf(TKAgetBridge(port), bridge::kInternal);
}
NXTKA_API int32_t NXTKA_CALL TKAsetBridgeInternal(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetBridge, TKAsetBridge, bridge::kInternal, on);
}

NXTKA_API int32_t NXTKA_CALL TKAsetGageFactor(uint32_t port, double k) {
    return setEncoded(port, cmd::kSetGageFactor, codec::gageFactorRaw(k), "gage factor outside 0..655.35");
}
NXTKA_API double NXTKA_CALL TKAgetGageFactor(uint32_t port) {
    return guardedQuery(port, cmd::kGetGageFactor, [](PortSession&, std::uint32_t raw) { return codec::gageFactor(raw); });
}
NXTKA_API int32_t NXTKA_CALL TKAsetPoisson(uint32_t port, double nu) {
    return setEncoded(port, cmd::kSetPoisson, codec::poissonRaw(nu), "Poisson ratio outside 0..0.51");
}
NXTKA_API double NXTKA_CALL TKAgetPoisson(uint32_t port) {
    return guardedQuery(port, cmd::kGetPoisson, [](PortSession&, std::uint32_t raw) { return codec::poisson(raw); });
}

// The input range: in tenths on older amplifiers, entry 0/0 of the range
// table on newer ones (core/range_table.h).
NXTKA_API int32_t NXTKA_CALL NXwriteRange(uint32_t port, double range) {
    return underGuard(port, [&](PortSession& s) { return ranges::writeInputRange(s, range); });
}
NXTKA_API double NXTKA_CALL TKAgetRange(uint32_t port) {
    return underGuard(port, [](PortSession& s) { return ranges::readInputRange(s); });
}
NXTKA_API int32_t NXTKA_CALL NXwriteRanges(uint32_t port, uint32_t first, uint32_t second, uint32_t value) {
    return ranges::setEntry(port, first, second, value);
}
