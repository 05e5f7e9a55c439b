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
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const auto w = static_cast<std::uint32_t>(word);
        if (!sendSetting(s, cmd::kSetSpecialMode, sleepbit::forAmplifier(w))) return -1;
        sleepbit::keepFromWord(s, w);
        return 0;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialMode(uint32_t port) {
    return guardedQuery(port, cmd::kGetSpecialMode, [](PortSession& s, std::uint32_t word) {
        return static_cast<std::int32_t>(sleepbit::withKeptBit(s, word));
    });
}

NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeSlow(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kSlow, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeAverage(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kAverage, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilter(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kFilter, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeMax(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kMax, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilterAuto(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kFilterAuto, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilterOrder5(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kFilterOrder5, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeAutoZero(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kAutoZero, on);
}
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeNoiseCut(uint32_t port, int32_t on) {
    return setFlag(port, TKAgetSpecialMode, TKAsetSpecialMode, specialMode::kNoiseCut, on);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeSlow(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kSlow);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeAverage(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kAverage);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilter(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kFilter);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeMax(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kMax);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilterAuto(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kFilterAuto);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilterOrder5(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kFilterOrder5);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeAutoZero(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kAutoZero);
}
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeNoiseCut(uint32_t port) {
    return fieldOf(TKAgetSpecialMode(port), specialMode::kNoiseCut);
}

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
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const auto raw = codec::noiseCutRaw(threshold, s.bipolar.load() != 0);
        if (!raw) return refuseArgument("noise-cut threshold beyond the scale");
        return sendSetting(s, cmd::kSetNoiseCutThreshold, *raw) ? 0 : -1;
    });
}
NXTKA_API double NXTKA_CALL TKAgetNoiseCutThreshold(uint32_t port) {
    return guardedQuery(port, cmd::kGetNoiseCutThreshold, [](PortSession& s, std::uint32_t raw) {
        return codec::normalized24(raw, s.bipolar.load() != 0);
    });
}
