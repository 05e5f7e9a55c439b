// Sampling rate: the exports of the sampling-rate word (core/sampling_rate.h
// holds the word's routines and the protocol the session keeps).
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/sampling_rate.h"
#include "nxtka.h"

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAwriteSamplingRate(uint32_t port, double frequency, int32_t factor) {
    return underGuard(port, [&](PortSession& s) { return sampling::writeRate(s, frequency, factor); });
}

NXTKA_API int32_t NXTKA_CALL TKAreadSamplingRate(uint32_t port, double* frequency, int32_t* factor) {
    if (frequency == nullptr || factor == nullptr) return refuseArgument("null output");
    return underGuard(port, [&](PortSession& s) { return sampling::readRate(s, frequency, factor); });
}

NXTKA_API double NXTKA_CALL TKAreadSamplingFrequency(uint32_t port) {
    return underGuard(port, [](PortSession& s) { return sampling::frequency(s); });
}

NXTKA_API int32_t NXTKA_CALL TKAreadSamplingFactor(uint32_t port) {
    return underGuard(port, [](PortSession& s) { return sampling::factor(s); });
}

NXTKA_API int32_t NXTKA_CALL TKAisSamplingFrequencyProtocolLinear(uint32_t port) {
    return underGuard(port, [](PortSession& s) { return sampling::protocolBit(s, codec::kProtocolFrequencyLinear); });
}

NXTKA_API int32_t NXTKA_CALL TKAisSamplingFactorProtocolLinear(uint32_t port) {
    return underGuard(port, [](PortSession& s) { return sampling::protocolBit(s, codec::kProtocolFactorLinear); });
}
