// Adjustment values and calibration procedures.
#include "core/answer_wait.h"
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"
#include "stream/stream_control.h"

using namespace nxtka;

namespace {

constexpr std::uint32_t kProcedureWaitMs = 5000;

// The amplifier adjusts itself: values measured before are dropped, none are
// stored meanwhile, and the next value frame (or a lone ";") shows that it is
// back. 1 back, 0 not back within the wait, -1 failure (also a line that
// fails while it waits).
std::int32_t runProcedure(unsigned port, PlainCommand procedure) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    if (!sendCommand(s, procedure.code)) return -1;
    const int drained = drainValues(s, kProcedureWaitMs);
    const HeldValues held(s);
    if (drained == -1) return -1;
    std::uint32_t slot = 0;
    beginExchange(s, procedure.code, &slot);
    if (rules::requestsValueAfterAdjustment(s)) sendCommand(s, cmd::kSingleValue);
    const bool lineFailed = waitAnswer(s, kProcedureWaitMs) != 0;
    if (endExchange(s, lineFailed)) return 1;
    return lineFailed ? -1 : 0;
}

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAgetScale(uint32_t port) { return guardedGet(port, cmd::kGetScale); }
NXTKA_API int32_t NXTKA_CALL TKAgetZero(uint32_t port) { return guardedGet(port, cmd::kGetZero); }
NXTKA_API int32_t NXTKA_CALL TKAgetOffset(uint32_t port) { return guardedGet(port, cmd::kGetOffset); }
NXTKA_API int32_t NXTKA_CALL TKAwriteScale(uint32_t port, int32_t value) {
    return setLowBytes(port, cmd::kWriteScale, static_cast<std::uint32_t>(value));
}
NXTKA_API int32_t NXTKA_CALL TKAwriteZero(uint32_t port, int32_t value) {
    return setLowBytes(port, cmd::kWriteZero, static_cast<std::uint32_t>(value));
}
NXTKA_API int32_t NXTKA_CALL TKAwriteOffset(uint32_t port, int32_t value) {
    return setLowBytes(port, cmd::kWriteOffset, static_cast<std::uint32_t>(value));
}
NXTKA_API int32_t NXTKA_CALL TKAgetAll(uint32_t port, int32_t number) {
    return setLowBytes(port, cmd::kLoadSettings, static_cast<std::uint32_t>(number));
}
NXTKA_API int32_t NXTKA_CALL TKAsaveAll(uint32_t port, int32_t number) {
    return setLowBytes(port, cmd::kSaveSettings, static_cast<std::uint32_t>(number));
}
NXTKA_API int32_t NXTKA_CALL TKAresetStatus(uint32_t port) { return sendAlone(port, cmd::kResetStatus); }

NXTKA_API int32_t NXTKA_CALL TKAsetCal(uint32_t port) { return runProcedure(port, cmd::kCalibrate); }
NXTKA_API int32_t NXTKA_CALL TKAsetZero(uint32_t port) { return runProcedure(port, cmd::kAdjustZero); }
NXTKA_API int32_t NXTKA_CALL TKAsetScale(uint32_t port) { return runProcedure(port, cmd::kAdjustScale); }
NXTKA_API int32_t NXTKA_CALL TKAsetOffset(uint32_t port) { return runProcedure(port, cmd::kAdjustOffset); }

NXTKA_API int32_t NXTKA_CALL NXsetCal(uint32_t port, double factor) {
    return setEncoded(port, cmd::kSetCal, codec::calibrationDivisor(factor), "calibration factor outside its range");
}
NXTKA_API double NXTKA_CALL NXgetCal(uint32_t port) {
    return guardedQuery(port, cmd::kGetCal, [](PortSession&, std::uint32_t raw) {
        const auto factor = codec::calibrationFactor(raw);
        if (!factor) recordAnswerFailure("no calibration factor for a divisor of 0", raw);
        return factor.value_or(-1.0);
    });
}
NXTKA_API int32_t NXTKA_CALL NXsetOffsetWait(uint32_t port, double time) {
    return setEncoded(port, cmd::kSetOffsetWait, codec::offsetWaitRaw(time), "offset waiting time outside 0..1.5841 s");
}
NXTKA_API double NXTKA_CALL NXgetOffsetWait(uint32_t port) {
    return guardedQuery(port, cmd::kGetOffsetWait, [](PortSession&, std::uint32_t raw) { return codec::offsetWait(raw); });
}
