// Transmission modes, the amplifier's own serial speed, slow rate and
// transmission delta. The local port's speed is never changed here.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/speed_tables.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAsetTxMode(uint32_t port, int32_t mode) {
    return setChecked(port, cmd::kSetTxMode, mode);
}
NXTKA_API int32_t NXTKA_CALL TKAgetTxMode(uint32_t port) { return guardedGet(port, cmd::kGetTxMode); }
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeConfig(uint32_t port) {
    return fieldOf(TKAgetTxMode(port), txMode::kConfig);
}

NXTKA_API int32_t NXTKA_CALL TKAsetTxModeTransmit4(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetTxMode, TKAsetTxMode, txMode::kTransmit4, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeRepeat3(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetTxMode, TKAsetTxMode, txMode::kRepeat3, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeTransmit5(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetTxMode, TKAsetTxMode, txMode::kTransmit5, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeReadOnly(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetTxMode, TKAsetTxMode, txMode::kReadOnly, on);
}
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeTransmit4(uint32_t port) {
    return fieldOf(TKAgetTxMode(port), txMode::kTransmit4);
}
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeRepeat3(uint32_t port) {
    return fieldOf(TKAgetTxMode(port), txMode::kRepeat3);
}
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeTransmit5(uint32_t port) {
    return fieldOf(TKAgetTxMode(port), txMode::kTransmit5);
}
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeReadOnly(uint32_t port) {
    return fieldOf(TKAgetTxMode(port), txMode::kReadOnly);
}

NXTKA_API int32_t NXTKA_CALL TKAsetBaud(uint32_t port, int32_t index) { return setChecked(port, cmd::kSetBaud, index); }
NXTKA_API int32_t NXTKA_CALL TKAgetBaud(uint32_t port) { return guardedGet(port, cmd::kGetBaud); }
NXTKA_API int32_t NXTKA_CALL TKAsetBaudRate(uint32_t port, int32_t rate) {
    const std::int32_t index = speeds::positionOf(speeds::kSerial, rate);
    return index < 0 ? refuseArgument("line speed not in the table") : TKAsetBaud(port, index);
}
NXTKA_API int32_t NXTKA_CALL TKAgetBaudRate(uint32_t port) {
    const std::int32_t index = TKAgetBaud(port);
    if (index < 0) return index;
    const std::int32_t rate = speeds::rateAt(speeds::kSerial, index);
    if (rate < 0) recordAnswerFailure("no line speed for this index", static_cast<std::uint32_t>(index));
    return rate;
}

NXTKA_API int32_t NXTKA_CALL TKAsetSlowRate(uint32_t port, int32_t rate) {
    return setInRange(port, cmd::kSetSlowRate, rate, 1, 0xFFFF);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSlowRate(uint32_t port) { return guardedGet(port, cmd::kGetSlowRate); }

NXTKA_API int32_t NXTKA_CALL TKAsetTransmissionDelta(uint32_t port, double delta) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const auto raw = codec::transmissionDeltaRaw(delta, s.bipolar.load() != 0);
        if (!raw) return refuseArgument("transmission delta outside the scale");
        return sendSetting(s, cmd::kSetTransmissionDelta, *raw) ? 0 : -1;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetTransmissionDelta(uint32_t port, double* delta) {
    if (delta == nullptr) return refuseArgument("null delta");
    return guardedQuery(port, cmd::kGetTransmissionDelta, [&](PortSession& s, std::uint32_t raw) -> std::int32_t {
        *delta = codec::normalized24(raw, s.bipolar.load() != 0);
        return 0;
    });
}
