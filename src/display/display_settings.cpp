// Display settings: unit, norm, decimal point and digits, with the session's
// copy of the norm that text values are divided by.
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/display_state.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"
#include "stream/stream_control.h"
#include "stream/value_conversion.h"

#include <cmath>

using namespace nxtka;

namespace {

constexpr std::uint32_t kDrainWaitMs = 5000;
constexpr std::uint32_t kReadBackExtraMs = 100;
constexpr int kNarrowMaxExponent = 6;
constexpr int kWideMaxExponent = 8;

// How readDisplay reads: the exponent only and report it plus 2 (mode -1);
// the exponent only and store it (0); exponent and norm (1). A mode below -1
// is minus an earlier mode -1 result: the norm alone, with that exponent.
constexpr int kExponentOnly = -1;
constexpr int kStoreExponent = 0;
constexpr int kExponentAndNorm = 1;
constexpr int kEncodedOffset = 2;

void keepNormSign(PortSession& s, std::uint32_t answer) {
    int flags = s.displayFlags.load();
    if ((answer & kDisplayNormSignBit) == 0) {
        flags &= ~static_cast<int>(displayFlag::kNormNegative.mask());
    } else if (rules::allowsNegativeDisplayNorm(s)) {
        flags |= static_cast<int>(displayFlag::kNormNegative.mask());
    }
    s.displayFlags = flags;
}

// The decimal exponent (plus 2 in mode -1), or -1. `extraMs` lengthens the
// first wait. An answer of norm 0 is reported but never stored: text values
// are divided by the stored norm.
int readDisplay(PortSession& s, int mode, double* norm, std::uint32_t extraMs) {
    int exponent = 0;
    std::uint32_t normWait = kAnswerTimeoutMs;
    if (mode < kExponentOnly) {
        exponent = -mode - kEncodedOffset;
        normWait += extraMs;
    } else {
        std::uint32_t point = 0;
        if (!requestValue(s, cmd::kDispGetDPoint, CommandParam::none(), point, kAnswerTimeoutMs + extraMs)) return -1;
        exponent = static_cast<int>(point);
        if (mode == kExponentOnly) return exponent + kEncodedOffset;
        if (mode == kStoreExponent) {
            storeDisplayNorm(s, exponent, s.displayNormRaw.load());
            return exponent;
        }
    }
    std::uint32_t answer = 0;
    if (!requestValue(s, cmd::kDispGetNorm, CommandParam::none(), answer, normWait)) return -1;
    storeDisplayNorm(s, exponent, s.displayNormRaw.load());
    const std::uint32_t magnitude = answer & ~kDisplayNormSignBit;
    if (magnitude == 0) {
        if (norm != nullptr) *norm = codec::displayNorm(exponent, magnitude);
        return exponent;
    }
    keepNormSign(s, answer);
    storeDisplayNorm(s, exponent, magnitude);
    if (norm != nullptr) *norm = s.displayNorm.load();
    return exponent;
}

// Ends a display setter: the values measured meanwhile are dropped; a marker
// that is not answered turns success into failure. A setter that has already
// failed keeps its own reason.
std::int32_t finishHeld(PortSession& s, bool success) {
    if (!success) {
        const KeptFailure reason;
        drainValues(s, kDrainWaitMs);
        return -1;
    }
    return drainValues(s, kDrainWaitMs) != -1 ? 0 : -1;
}

// True when the amplifier reports the decimal point written; else records its answer.
bool readBackPoint(const PortSession& s, std::int32_t written) {
    const int point = s.displayDecimalPoint.load();
    if (point == written) return true;
    recordAnswerFailure("decimal point read back differs from the one written", static_cast<std::uint32_t>(point));
    return false;
}

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKADispSetUnit(uint32_t port, int32_t unit) {
    return setLowBytes(port, cmd::kDispSetUnit, static_cast<std::uint32_t>(unit));
}
NXTKA_API int32_t NXTKA_CALL TKADispGetUnit(uint32_t port) { return guardedGet(port, cmd::kDispGetUnit); }
NXTKA_API int32_t NXTKA_CALL TKADispSetDigits(uint32_t port, int32_t digits) {
    return setInRange(port, cmd::kDispSetDigits, digits, 1, 255);
}
NXTKA_API int32_t NXTKA_CALL TKADispGetDigits(uint32_t port) { return guardedGet(port, cmd::kDispGetDigits); }

NXTKA_API int32_t NXTKA_CALL TKADispSetDPoint(uint32_t port, int32_t point) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const HeldValues held(s);
    const bool sent = sendSetting(s, cmd::kDispSetDPoint, static_cast<std::uint32_t>(point));
    bool success = false;
    if (readDisplay(s, kStoreExponent, nullptr, kReadBackExtraMs) != -1 && sent) {
        success = readBackPoint(s, point);
    } else {
        readDisplay(s, kStoreExponent, nullptr, kReadBackExtraMs);
    }
    return finishHeld(s, success);
}
NXTKA_API int32_t NXTKA_CALL TKADispGetDPoint(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> std::int32_t { return readDisplay(s, kStoreExponent, nullptr, 0); });
}

NXTKA_API int32_t NXTKA_CALL TKADispSetNorm(uint32_t port, double norm) {
    const bool negative = norm < 0.0;
    const auto code = codec::displayNormCode(std::fabs(norm));
    if (!code) return refuseArgument("display norm outside 0.16..10^8");
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const int maxExponent = rules::hasWideDisplayNorm(s) ? kWideMaxExponent : kNarrowMaxExponent;
    if (code->exponent > maxExponent) return refuseArgument("display norm too large for this amplifier");
    if (negative && !rules::allowsNegativeDisplayNorm(s)) return refuseArgument("negative display norm");

    const HeldValues held(s);
    const bool sentPoint = sendSetting(s, cmd::kDispSetDPoint, static_cast<std::uint32_t>(code->exponent));
    const int encoded = readDisplay(s, kExponentOnly, nullptr, kReadBackExtraMs);
    bool success = false;
    if (encoded != -1 && sentPoint) {
        const std::uint32_t raw = code->mantissa | (negative ? kDisplayNormSignBit : 0u);
        const bool sentNorm = sendSetting(s, cmd::kDispSetNorm, raw);
        if (readDisplay(s, -encoded, nullptr, 0) != -1 && sentNorm) {
            success = readBackPoint(s, code->exponent);
            if (success && s.displayNormRaw.load() != code->mantissa) {
                recordFailure(Failure::Answer, "display norm read back differs from the one written");
                success = false;
            }
        } else {
            readDisplay(s, -encoded, nullptr, 0);
        }
    } else {
        readDisplay(s, kStoreExponent, nullptr, kReadBackExtraMs);
    }
    return finishHeld(s, success);
}
NXTKA_API double NXTKA_CALL TKADispGetNorm(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> double {
        const bool activationFlag = (s.displayFlags.load() & static_cast<int>(displayFlag::kActivationBit3.mask())) != 0;
        double norm = 0.0;
        if (readDisplay(s, kExponentAndNorm, &norm, 0) == -1) return activationFlag ? 0.0 : -1.0;
        return s.displayFlags.load() == kTextInvertFlags ? -norm : norm;
    });
}

NXTKA_API int32_t NXTKA_CALL TKADispCalcNorm(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const HeldValues held(s);
    const bool sent = sendCommand(s, cmd::kDispCalcNorm);
    bool success = readDisplay(s, kExponentAndNorm, nullptr, kReadBackExtraMs) != -1 && sent;
    if (!success) readDisplay(s, kExponentAndNorm, nullptr, kReadBackExtraMs);
    return finishHeld(s, success);
}
