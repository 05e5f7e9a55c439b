// Control word, gain, polarity, channel and sampling frequency.
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAgetControl(uint32_t port) {
    return guardedGetKeeping(port, cmd::kGetControl, [](PortSession& s, std::uint32_t word) {
        s.bipolar = (word & control::kUnipolar.mask()) == 0 ? 1 : 0;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAwriteControl(uint32_t port, int32_t value) {
    return setLowBytes(port, cmd::kWriteControl, static_cast<std::uint32_t>(value));
}
NXTKA_API int32_t NXTKA_CALL TKAisBipol(uint32_t port) { return clearBitOf(TKAgetControl(port), control::kUnipolar); }
NXTKA_API int32_t NXTKA_CALL TKAsetBipolar(uint32_t port) {
    return sendAloneThen(port, cmd::kSetBipolar, [](PortSession& s) { s.bipolar = 1; });
}
NXTKA_API int32_t NXTKA_CALL TKAsetUnipolar(uint32_t port) {
    return sendAloneThen(port, cmd::kSetUnipolar, [](PortSession& s) { s.bipolar = 0; });
}
NXTKA_API int32_t NXTKA_CALL TKAgetGain(uint32_t port) { return fieldOf(TKAgetControl(port), control::kGain); }
NXTKA_API int32_t NXTKA_CALL TKAsetGain(uint32_t port, int32_t gain) {
    return setInRange(port, cmd::kSetGain, gain, 0, 7);
}

NXTKA_API int32_t NXTKA_CALL TKAgetChannel(uint32_t port) {
    return guardedQueryOr(
        port, rules::hasChannelCommand, cmd::kGetChannel,
        [](std::uint32_t channel) { return static_cast<std::int32_t>(channel); },
        [](unsigned p) { return fieldOf(TKAgetControl(p), control::kChannel); });
}
NXTKA_API int32_t NXTKA_CALL TKAsetChannel(uint32_t port, int32_t channel) {
    return setLowBytes(port, cmd::kSetChannel, static_cast<std::uint32_t>(channel));
}

NXTKA_API double NXTKA_CALL TKAgetFreq(uint32_t port) {
    return guardedQueryOr(port, rules::readsFrequencyByQuery, cmd::kGetFreq, codec::timerFrequency, [](unsigned p) {
        return decodedOf(TKAgetControl(p), codec::controlWordFrequency,
                         "no frequency for a divisor of 0 in the control word");
    });
}
NXTKA_API int32_t NXTKA_CALL TKAsetFreq(uint32_t port, double frequency) {
    return setEncodedInSession(port, cmd::kSetFreq, "sampling frequency outside the divisor's range",
                               [&](const PortSession& s) {
                                   return codec::frequencyDivisor(frequency, rules::hasExtendedFrequency(s));
                               });
}
