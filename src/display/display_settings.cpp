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

// A written setting's read-back: read() once; when it or the write failed,
// again() once more (so the session's copy follows the amplifier) and false;
// else check() says whether the amplifier holds what was written.
template <class Read, class Again, class Check>
bool readBack(bool written, Read read, Again again, Check check) {
    if (read() != -1 && written) return check();
    again();
    return false;
}

// A display setter with the value stream held back: write() gives its
// success; the values measured meanwhile are dropped at the end, and a
// marker that is not answered turns success into failure. A setter that has
// already failed keeps its own reason.
template <class Write>
std::int32_t heldWrite(PortSession& s, Write write) {
    const HeldValues held(s);
    const bool success = write();
    if (!success) {
        const KeptFailure reason;
        drainValues(s, kDrainWaitMs);
        return -1;
    }
    return drainValues(s, kDrainWaitMs) != -1 ? 0 : -1;
}

// heldWrite under both guards: write(session).
template <class Write>
std::int32_t heldDisplayWrite(unsigned port, Write write) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    return heldWrite(guard.session(), [&] { return write(guard.session()); });
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
    return heldDisplayWrite(port, [&](PortSession& s) {
        const bool sent = sendSetting(s, cmd::kDispSetDPoint, static_cast<std::uint32_t>(point));
        const auto read = [&] { return readPointAndKeep(s, kReadBackExtraMs); };
        return readBack(sent, read, read, [&] { return readBackPoint(s, point); });
    });
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
    return heldDisplayWrite(port, [](PortSession& s) {
        const bool sent = sendCommand(s, cmd::kDispCalcNorm);
        const auto read = [&] { return readPointAndNorm(s, nullptr, kReadBackExtraMs); };
        return readBack(sent, read, read, [] { return true; });
    });
}
