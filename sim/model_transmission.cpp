#include "amplifier_model.h"

#include "core/command_table.h"
#include "core/speed_tables.h"

namespace nxtka::sim {

namespace {
constexpr std::uint64_t kSamplingProtocolBits = 0xC00000;
constexpr std::uint64_t kSamplingFields = 0x3FFFFF;
// Timer frequency, exponent factor: 500 Hz (reload 65536 - 10000), factor 1.
constexpr std::uint64_t kDefaultSamplingRate = 65536 - 10000;
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
    // Sampling rate: bits 22-23 (the protocol) are the amplifier's own and
    // are set with setReg; a write changes the frequency and factor fields.
    regAt(cmd::kReadSamplingRate) = kDefaultSamplingRate;
    on(cmd::kWriteSamplingRate, [this](const ReceivedCommand& c) -> R {
        std::uint64_t& word = regAt(cmd::kReadSamplingRate);
        word = (word & kSamplingProtocolBits) | (c.value() & kSamplingFields);
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
