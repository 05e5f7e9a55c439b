// Sampling rate: the 24-bit word of frequency, factor and the two protocol
// bits that say how the amplifier encodes them. The protocol is learned from
// the amplifier's own answer and cached in the session until the amplifier
// is identified again.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"

using namespace nxtka;

namespace {

// The cached protocol (0..3), read from the amplifier first while unknown;
// the read's failure (-1) when it fails or still leaves it unknown.
std::int32_t knownProtocol(unsigned port, const PortSession& s) {
    if (s.samplingProtocol.load() < 0) {
        double frequency = 0.0;
        std::int32_t factor = 0;
        const std::int32_t read = TKAreadSamplingRate(port, &frequency, &factor);
        if (read != 0) return read;
    }
    const int protocol = s.samplingProtocol.load();
    return protocol < 0 ? -1 : protocol;
}

// One protocol bit of the known protocol; the failure passes through.
std::int32_t protocolBit(unsigned port, std::uint32_t bit) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const std::int32_t protocol = knownProtocol(port, s);
        if (protocol < 0) return protocol;
        return (static_cast<std::uint32_t>(protocol) & bit) != 0 ? 1 : 0;
    });
}

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAwriteSamplingRate(uint32_t port, double frequency, int32_t factor) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const std::int32_t protocol = knownProtocol(port, s);
        if (protocol < 0) return protocol;
        const auto p = static_cast<std::uint32_t>(protocol);
        const auto f = codec::samplingFrequencyField(frequency, (p & codec::kProtocolFrequencyLinear) != 0);
        const auto e = codec::samplingFactorField(factor, (p & codec::kProtocolFactorLinear) != 0);
        if (!f || !e) return refuseArgument("frequency or factor the encoding cannot carry");
        return sendSetting(s, cmd::kWriteSamplingRate, codec::samplingRateWord(p, *e, *f)) ? 0 : -1;
    });
}

NXTKA_API int32_t NXTKA_CALL TKAreadSamplingRate(uint32_t port, double* frequency, int32_t* factor) {
    if (frequency == nullptr || factor == nullptr) return refuseArgument("null output");
    return guardedQuery(port, cmd::kReadSamplingRate, [&](PortSession& s, std::uint32_t word) -> std::int32_t {
        s.samplingProtocol = static_cast<int>(codec::samplingProtocolOf(word));
        *factor = codec::samplingFactorOf(word);
        *frequency = codec::samplingFrequencyOf(word);
        return 0;
    });
}

NXTKA_API double NXTKA_CALL TKAreadSamplingFrequency(uint32_t port) {
    double frequency = 0.0;
    std::int32_t factor = 0;
    const std::int32_t read = TKAreadSamplingRate(port, &frequency, &factor);
    return read != 0 ? static_cast<double>(read) : frequency;
}

NXTKA_API int32_t NXTKA_CALL TKAreadSamplingFactor(uint32_t port) {
    double frequency = 0.0;
    std::int32_t factor = 0;
    const std::int32_t read = TKAreadSamplingRate(port, &frequency, &factor);
    if (read != 0) return read;
    if (factor < 0) recordFailure(Failure::Answer, "sampling-factor exponent of 31 or more");
    return factor;
}

NXTKA_API int32_t NXTKA_CALL TKAisSamplingFrequencyProtocolLinear(uint32_t port) {
    return protocolBit(port, codec::kProtocolFrequencyLinear);
}

NXTKA_API int32_t NXTKA_CALL TKAisSamplingFactorProtocolLinear(uint32_t port) {
    return protocolBit(port, codec::kProtocolFactorLinear);
}
