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

// The flags of the transmission-mode word.
#define NXTKA_TX_MODE_FLAGS(X)               \
    X(TxModeTransmit4, txMode::kTransmit4)   \
    X(TxModeRepeat3, txMode::kRepeat3)       \
    X(TxModeTransmit5, txMode::kTransmit5)   \
    X(TxModeReadOnly, txMode::kReadOnly)

#define NXTKA_TX_MODE_FLAG(name, field) NXTKA_FLAG_EXPORTS(TKAgetTxMode, TKAsetTxMode, name, field)
NXTKA_TX_MODE_FLAGS(NXTKA_TX_MODE_FLAG)
#undef NXTKA_TX_MODE_FLAG

NXTKA_API int32_t NXTKA_CALL TKAsetBaud(uint32_t port, int32_t index) { return setChecked(port, cmd::kSetBaud, index); }
NXTKA_API int32_t NXTKA_CALL TKAgetBaud(uint32_t port) { return guardedGet(port, cmd::kGetBaud); }
NXTKA_API int32_t NXTKA_CALL TKAsetBaudRate(uint32_t port, int32_t rate) {
    return setByPosition(port, speeds::kSerial, rate, "line speed not in the table", TKAsetBaud);
}
NXTKA_API int32_t NXTKA_CALL TKAgetBaudRate(uint32_t port) {
    return rateAtPosition(speeds::kSerial, TKAgetBaud(port), "no line speed for this index");
}

NXTKA_API int32_t NXTKA_CALL TKAsetSlowRate(uint32_t port, int32_t rate) {
    return setInRange(port, cmd::kSetSlowRate, rate, 1, 0xFFFF);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSlowRate(uint32_t port) { return guardedGet(port, cmd::kGetSlowRate); }

NXTKA_API int32_t NXTKA_CALL TKAsetTransmissionDelta(uint32_t port, double delta) {
    return setEncodedInSession(port, cmd::kSetTransmissionDelta, "transmission delta outside the scale",
                               [&](const PortSession& s) { return codec::transmissionDeltaRaw(delta, bipolarOf(s)); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetTransmissionDelta(uint32_t port, double* delta) {
    if (delta == nullptr) return refuseArgument("null delta");
    return guardedQueryInto(port, cmd::kGetTransmissionDelta, delta, [](const PortSession& s, std::uint32_t raw) {
        return codec::normalized24(raw, bipolarOf(s));
    });
}
