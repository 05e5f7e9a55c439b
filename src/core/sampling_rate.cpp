#include "core/sampling_rate.h"

#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/last_failure.h"

namespace nxtka::sampling {

std::int32_t readRate(PortSession& s, double* frequency, std::int32_t* factor) {
    std::uint32_t word = 0;
    if (!requestValue(s, cmd::kReadSamplingRate, CommandParam::none(), word)) return -1;
    s.samplingProtocol = static_cast<int>(codec::samplingProtocolOf(word));
    *factor = codec::samplingFactorOf(word);
    *frequency = codec::samplingFrequencyOf(word);
    return 0;
}

std::int32_t protocol(PortSession& s) {
    if (s.samplingProtocol.load() < 0) {
        double frequency = 0.0;
        std::int32_t factor = 0;
        const std::int32_t read = readRate(s, &frequency, &factor);
        if (read != 0) return read;
    }
    const int known = s.samplingProtocol.load();
    return known < 0 ? -1 : known;
}

std::int32_t protocolBit(PortSession& s, std::uint32_t bit) {
    const std::int32_t known = protocol(s);
    if (known < 0) return known;
    return (static_cast<std::uint32_t>(known) & bit) != 0 ? 1 : 0;
}

double frequency(PortSession& s) {
    double frequency = 0.0;
    std::int32_t factor = 0;
    const std::int32_t read = readRate(s, &frequency, &factor);
    return read != 0 ? static_cast<double>(read) : frequency;
}

std::int32_t factor(PortSession& s) {
    double frequency = 0.0;
    std::int32_t factor = 0;
    const std::int32_t read = readRate(s, &frequency, &factor);
    if (read != 0) return read;
    if (factor < 0) recordFailure(Failure::Answer, "sampling-factor exponent of 31 or more");
    return factor;
}

std::int32_t writeRate(PortSession& s, double frequency, std::int32_t factor) {
    const std::int32_t known = protocol(s);
    if (known < 0) return known;
    const auto p = static_cast<std::uint32_t>(known);
    const auto f = codec::samplingFrequencyField(frequency, (p & codec::kProtocolFrequencyLinear) != 0);
    const auto e = codec::samplingFactorField(factor, (p & codec::kProtocolFactorLinear) != 0);
    if (!f || !e) return refuseArgument("frequency or factor the encoding cannot carry");
    return sendSetting(s, cmd::kWriteSamplingRate, codec::samplingRateWord(p, *e, *f)) ? 0 : -1;
}

}  // namespace nxtka::sampling
