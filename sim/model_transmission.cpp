#include "amplifier_model.h"

#include "core/command_table.h"
#include "core/speed_tables.h"

#include <cmath>
#include <optional>

namespace nxtka::sim {

namespace {

// The sampling-rate word: protocol bits 22-23, factor bits 16-21, frequency bits 0-15.
constexpr unsigned kProtocolShift = 22;
constexpr std::uint64_t kFrequencyLinear = 0x800000;  // frequency = F x 0.5
constexpr std::uint64_t kFactorLinear = 0x400000;     // factor = E, else 2^E
constexpr unsigned kFactorShift = 16;
constexpr std::uint64_t kFrequencyField = 0xFFFF;
// Without frequency-linear: frequency = 5 MHz / (65536 - F).
constexpr double kTimerClock = 5000000.0;
constexpr std::uint64_t kTimerSpan = 65536;
constexpr double kStartFrequency = 500.0;  // when the start rate does not fit the word

double samplingFrequency(std::uint64_t word) {
    const auto f = static_cast<double>(word & kFrequencyField);
    if ((word & kFrequencyLinear) != 0) return 0.5 * f;
    return kTimerClock / (static_cast<double>(kTimerSpan) - f);
}

// The frequency field that says `frequency` in the protocol, if it can.
std::optional<std::uint64_t> frequencyField(double frequency, bool linear) {
    if (!(frequency > 0)) return std::nullopt;
    if (linear) {
        const double f = std::round(frequency * 2.0);
        if (f < 1 || f > static_cast<double>(kFrequencyField)) return std::nullopt;
        return static_cast<std::uint64_t>(f);
    }
    const double reload = std::round(kTimerClock / frequency);
    if (reload < 1 || reload > static_cast<double>(kTimerSpan)) return std::nullopt;
    return kTimerSpan - static_cast<std::uint64_t>(reload);
}

// The word at power-on: the protocol, factor 1, and the start rate where the
// protocol can say it.
std::uint64_t samplingWordAtStart(double rate, unsigned protocol) {
    const std::uint64_t bits = (std::uint64_t{protocol} << kProtocolShift) & kSamplingProtocolBits;
    const bool linear = (bits & kFrequencyLinear) != 0;
    const std::uint64_t factorOne = (bits & kFactorLinear) != 0 ? 1 : 0;
    const std::uint64_t frequency = frequencyField(rate, linear).value_or(*frequencyField(kStartFrequency, linear));
    return bits | (factorOne << kFactorShift) | frequency;
}

}  // namespace

// Line speed, sampling rate, CAN settings and user text. (The range table and
// command availability are modelled with the measurement family.)
void AmplifierModel::installTransmissionHandlers() {
    using R = std::optional<std::uint64_t>;
    // Line speed by its position in the speed table.
    on(cmd::kSetBaud, [this](const ReceivedCommand& c) -> R {
        regAt(cmd::kGetBaud) = c.params[0];
        const std::int32_t baud = speeds::rateAt(speeds::kSerial, c.params[0]);
        if (config_.followBaudChange && baud > 0 && lineSpeedHandler_) lineSpeedHandler_(static_cast<std::uint32_t>(baud));
        return std::nullopt;
    });
    // Sampling rate: bits 22-23 (the protocol) are the amplifier's own; a
    // write changes the frequency and factor fields, and the stream's rate.
    regAt(cmd::kReadSamplingRate) = samplingWordAtStart(config_.stream.rate, config_.samplingProtocol);
    on(cmd::kWriteSamplingRate, [this](const ReceivedCommand& c) -> R {
        std::uint64_t& word = regAt(cmd::kReadSamplingRate);
        word = (word & kSamplingProtocolBits) | (c.value() & kSamplingFields);
        followSamplingRate(samplingFrequency(word));
        return std::nullopt;
    });

    // User text: one cell per command.
    on(cmd::kSetUserTextChar, [this](const ReceivedCommand& c) -> R {
        userText_[c.params[0]] = c.params[1];
        return std::nullopt;
    });

    // CAN settings: index, 16-bit value; the getter takes the index.
    on(cmd::kSetCanSetting, [this](const ReceivedCommand& c) -> R {
        can_[c.params[0]] = static_cast<std::uint16_t>((c.params[1] << 8) | c.params[2]);
        return std::nullopt;
    });
    on(cmd::kGetCanSetting, [this](const ReceivedCommand& c) -> R { return can_[c.params[0]]; });
}

std::array<std::uint8_t, 256> AmplifierModel::userText() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return userText_;
}

}  // namespace nxtka::sim
