// Display settings: unit, norm, decimal point and digits, with the session's
// copy of the norm that text values are divided by.
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/display_state.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"
#include "stream/value_conversion.h"

#include <cmath>

using namespace nxtka;

namespace {

constexpr std::uint32_t kReadBackExtraMs = 100;
constexpr int kNarrowMaxExponent = 6;
constexpr int kWideMaxExponent = 8;

void keepNormSign(PortSession& s, std::uint32_t answer) {
    int flags = s.displayFlags.load();
    if ((answer & kDisplayNormSignBit) == 0) {
        flags &= ~static_cast<int>(displayFlag::kNormNegative.mask());
    } else if (rules::allowsNegativeDisplayNorm(s)) {
        flags |= static_cast<int>(displayFlag::kNormNegative.mask());
    }
    s.displayFlags = flags;
}

// The decimal point as the amplifier reports it (its exponent), or -1.
// `extraMs` lengthens the wait.
int readPoint(PortSession& s, std::uint32_t extraMs) {
    std::uint32_t point = 0;
    if (!requestValue(s, cmd::kDispGetDPoint, CommandParam::none(), point, kAnswerTimeoutMs + extraMs)) return -1;
    return static_cast<int>(point);
}

// readPoint, kept as the session's exponent with its norm.
int readPointAndKeep(PortSession& s, std::uint32_t extraMs) {
    const int exponent = readPoint(s, extraMs);
    if (exponent != -1) storeDisplayNorm(s, exponent, s.displayNormRaw.load());
    return exponent;
}

// The norm with the given exponent, kept in the session: the exponent, or -1.
// An answer of norm 0 is reported but never stored: text values are divided
// by the stored norm.
int readNorm(PortSession& s, int exponent, double* norm, std::uint32_t extraMs) {
    std::uint32_t answer = 0;
    if (!requestValue(s, cmd::kDispGetNorm, CommandParam::none(), answer, kAnswerTimeoutMs + extraMs)) return -1;
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

// The decimal point and then the norm: the exponent, or -1.
int readPointAndNorm(PortSession& s, double* norm, std::uint32_t extraMs) {
    const int exponent = readPoint(s, extraMs);
    return exponent == -1 ? -1 : readNorm(s, exponent, norm, 0);
}

// True when the amplifier reports the decimal point written; else records its answer.
bool readBackPoint(const PortSession& s, std::int32_t written) {
    const int point = s.displayDecimalPoint.load();
    if (point == written) return true;
    recordAnswerFailure("decimal point read back differs from the one written", static_cast<std::uint32_t>(point));
    return false;
}

// True when the amplifier reports the norm written; else records why not.
bool readBackNorm(const PortSession& s, int exponent, std::uint32_t mantissa) {
    if (!readBackPoint(s, exponent)) return false;
    if (s.displayNormRaw.load() == mantissa) return true;
    recordFailure(Failure::Answer, "display norm read back differs from the one written");
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
    return heldWriteReadBack(
        port, [&](PortSession& s) { return sendSetting(s, cmd::kDispSetDPoint, static_cast<std::uint32_t>(point)); },
        [](PortSession& s) { return readPointAndKeep(s, kReadBackExtraMs); },
        [&](const PortSession& s) { return readBackPoint(s, point); });
}
NXTKA_API int32_t NXTKA_CALL TKADispGetDPoint(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> std::int32_t { return readPointAndKeep(s, 0); });
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

    return heldWrite(s, [&] {
        const bool sentPoint = sendSetting(s, cmd::kDispSetDPoint, static_cast<std::uint32_t>(code->exponent));
        int exponent = -1;
        return readBack(
            sentPoint, [&] { return exponent = readPoint(s, kReadBackExtraMs); },
            [&] { return readPointAndKeep(s, kReadBackExtraMs); },
            [&] {
                const std::uint32_t raw = code->mantissa | (negative ? kDisplayNormSignBit : 0u);
                const bool sentNorm = sendSetting(s, cmd::kDispSetNorm, raw);
                const auto read = [&] { return readNorm(s, exponent, nullptr, 0); };
                return readBack(sentNorm, read, read, [&] { return readBackNorm(s, code->exponent, code->mantissa); });
            });
    });
}
NXTKA_API double NXTKA_CALL TKADispGetNorm(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> double {
        const bool activationFlag = (s.displayFlags.load() & static_cast<int>(displayFlag::kActivationBit3.mask())) != 0;
        double norm = 0.0;
        if (readPointAndNorm(s, &norm, 0) == -1) return activationFlag ? 0.0 : -1.0;
        return s.displayFlags.load() == kTextInvertFlags ? -norm : norm;
    });
}

NXTKA_API int32_t NXTKA_CALL TKADispCalcNorm(uint32_t port) {
    return heldWriteReadBack(
        port, [](PortSession& s) { return sendCommand(s, cmd::kDispCalcNorm); },
        [](PortSession& s) { return readPointAndNorm(s, nullptr, kReadBackExtraMs); },
        [](const PortSession&) { return true; });
}
