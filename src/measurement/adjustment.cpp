// Adjustment values and calibration procedures.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"

using namespace nxtka;

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
    return guardedQueryChecked(port, cmd::kGetCal, "no calibration factor for a divisor of 0",
                               codec::calibrationFactor);
}
NXTKA_API int32_t NXTKA_CALL NXsetOffsetWait(uint32_t port, double time) {
    return setEncoded(port, cmd::kSetOffsetWait, codec::offsetWaitRaw(time), "offset waiting time outside 0..1.5841 s");
}
NXTKA_API double NXTKA_CALL NXgetOffsetWait(uint32_t port) {
    return guardedQuery(port, cmd::kGetOffsetWait, [](PortSession&, std::uint32_t raw) { return codec::offsetWait(raw); });
}
