// Bridge, strain-gauge factors and input range.
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/range_table.h"
#include "nxtka.h"

#include <cmath>

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

// Older amplifiers keep the input range in tenths; newer ones as entry 0/0 of
// the range table, a negative number of hundredths.
NXTKA_API int32_t NXTKA_CALL NXwriteRange(uint32_t port, double range) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (rules::usesRangeTable(s)) {
            if (range < 0.0) return refuseArgument("negative input range");
            const auto raw = codec::signMagnitudeHundredths(-range);
            return raw ? ranges::writeEntry(s, 0, 0, *raw) : refuseArgument(ranges::kValueRefused);
        }
        const auto raw = codec::inputRangeRaw(range);
        if (!raw) return refuseArgument("input range outside 0..25.5");
        return sendSetting(s, cmd::kWriteRange, *raw) ? 0 : -1;
    });
}
NXTKA_API double NXTKA_CALL TKAgetRange(uint32_t port) {
    return underGuard(port, [&](PortSession& s) -> double {
        if (rules::usesRangeTable(s)) {
            double entry = 0.0;
            const std::int32_t status = ranges::readEntry(s, 0, 0, &entry);
            if (status < 0) return -1.0;
            if (status > 0) return std::fabs(entry);
            if (entry < 0.0) {
                recordFailure(Failure::Answer, "range table entry 0/0: status 0 with a negative range");
                return -1.0;
            }
        }
        std::uint32_t raw = 0;
        return requestValue(s, cmd::kGetRange, CommandParam::none(), raw) ? codec::inputRange(raw) : -1.0;
    });
}
NXTKA_API int32_t NXTKA_CALL NXwriteRanges(uint32_t port, uint32_t first, uint32_t second, uint32_t value) {
    return ranges::setEntry(port, first, second, value);
}
