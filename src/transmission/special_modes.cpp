// Special-mode word and its flags, auto-zero counter, noise-cut threshold.
// The word's sleep bit is the library's: the amplifier runs with it cleared
// while the port is active (see core/sleep_bit.h).
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/sleep_bit.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAsetSpecialMode(uint32_t port, int32_t word) {
    if (word < 0 || word > 0xFFFF) return refuseArgument("special-mode word outside 0..65535");
    return setLowBytesThen(port, cmd::kSetSpecialMode, sleepbit::forAmplifier(static_cast<std::uint32_t>(word)),
                           [&](PortSession& s) { sleepbit::keepFromWord(s, static_cast<std::uint32_t>(word)); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialMode(uint32_t port) {
    return guardedQuery(port, cmd::kGetSpecialMode, [](PortSession& s, std::uint32_t word) {
        return static_cast<std::int32_t>(sleepbit::withKeptBit(s, word));
    });
}

// The flags of the special-mode word but its sleep bit, which is the library's.
#define NXTKA_SPECIAL_MODE_FLAGS(X)                     \
    X(SpecialModeSlow, specialMode::kSlow)              \
    X(SpecialModeAverage, specialMode::kAverage)        \
    X(SpecialModeFilter, specialMode::kFilter)          \
    X(SpecialModeMax, specialMode::kMax)                \
    X(SpecialModeFilterAuto, specialMode::kFilterAuto)  \
    X(SpecialModeFilterOrder5, specialMode::kFilterOrder5) \
    X(SpecialModeAutoZero, specialMode::kAutoZero)      \
    X(SpecialModeNoiseCut, specialMode::kNoiseCut)

#define NXTKA_SPECIAL_MODE_FLAG(name, field) NXTKA_FLAG_EXPORTS(TKAgetSpecialMode, TKAsetSpecialMode, name, field)
NXTKA_SPECIAL_MODE_FLAGS(NXTKA_SPECIAL_MODE_FLAG)
#undef NXTKA_SPECIAL_MODE_FLAG

NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeSleep(uint32_t port, int32_t on) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        sleepbit::keepFlag(s, on);
        return 0;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeSleep(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> std::int32_t { return s.sleepMode.load(); });
}

NXTKA_API int32_t NXTKA_CALL TKAsetAutoZeroCounter(uint32_t port, int32_t count) {
    return setInRange(port, cmd::kSetAutoZeroCounter, count, 1, 0xFFFF);
}
NXTKA_API int32_t NXTKA_CALL TKAgetAutoZeroCounter(uint32_t port) {
    return guardedGet(port, cmd::kGetAutoZeroCounter);
}

NXTKA_API int32_t NXTKA_CALL TKAsetNoiseCutThreshold(uint32_t port, double threshold) {
    return setEncodedInSession(port, cmd::kSetNoiseCutThreshold, "noise-cut threshold beyond the scale",
                               [&](const PortSession& s) { return codec::noiseCutRaw(threshold, bipolarOf(s)); });
}
NXTKA_API double NXTKA_CALL TKAgetNoiseCutThreshold(uint32_t port) {
    return guardedQuery(port, cmd::kGetNoiseCutThreshold, [](PortSession& s, std::uint32_t raw) {
        return codec::normalized24(raw, bipolarOf(s));
    });
}
