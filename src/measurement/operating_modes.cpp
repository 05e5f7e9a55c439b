// Operating modes, settings lock and switch.
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAgetMode(uint32_t port) { return guardedGet(port, cmd::kGetMode); }
NXTKA_API int32_t NXTKA_CALL TKAsetMode(uint32_t port, int32_t mode) { return setChecked(port, cmd::kSetMode, mode); }

NXTKA_API int32_t NXTKA_CALL TKAgetModeSI(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kSi); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeText(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kText); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeMax(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kMax); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeLog(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kLog); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeWindow(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kWindow); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeAverage(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kAverage); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeLinear(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kLinear); }
NXTKA_API int32_t NXTKA_CALL TKAgetModeLock(uint32_t port) { return fieldOf(TKAgetMode(port), mode::kLock); }

NXTKA_API int32_t NXTKA_CALL TKAsetModeSI(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kSi, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeText(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kText, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeMax(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kMax, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeLog(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kLog, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeWindow(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kWindow, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeAverage(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kAverage, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetModeLinear(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetMode, TKAsetMode, mode::kLinear, on);
}

NXTKA_API int32_t NXTKA_CALL NXsetModeLock(uint32_t port, int32_t lock, const unsigned char* identifier) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (rules::hasModeLockCommand(s)) return sendByteArray(s, cmd::kSetModeLock, identifier) ? 0 : -1;
        if (lock != 0) return setFlag(port, TKAgetMode, TKAsetMode, mode::kLock, 1);
        return NXsendID(port, identifier);
    });
}
NXTKA_API int32_t NXTKA_CALL NXsendID(uint32_t port, const unsigned char* identifier) {
    return sendByteArray(port, cmd::kSendId, identifier);
}
NXTKA_API int32_t NXTKA_CALL TKAswitch(uint32_t port, int32_t on) {
    return setLowBytes(port, cmd::kSwitch, on != 0 ? 1u : 0u);
}
