#include "amplifier_model.h"

#include "core/command_table.h"

namespace nxtka::sim {

// Sampling rate, transmission, special modes, filters, CAN, device queries,
// range table, sensor and user data.
void AmplifierModel::installTransmissionHandlers() {
    using R = std::optional<std::uint64_t>;
    // CAN settings: index, 16-bit value; the getter takes the index.
    on(cmd::kSetCanSetting, [this](const ReceivedCommand& c) -> R {
        can_[c.params[0]] = static_cast<std::uint16_t>((c.params[1] << 8) | c.params[2]);
        return std::nullopt;
    });
    on(cmd::kGetCanSetting, [this](const ReceivedCommand& c) -> R { return can_[c.params[0]]; });

    // Range table: selector -> status byte and 24-bit entry; WriteRanges writes one.
    on(cmd::kGetRanges, [this](const ReceivedCommand& c) -> R { return ranges_[c.params[0]]; });
    on(cmd::kWriteRanges, [this](const ReceivedCommand& c) -> R {
        ranges_[c.params[0]] = (1u << 24) | static_cast<std::uint32_t>(c.value() & 0xFFFFFF);
        return std::nullopt;
    });

    // Command available: 0xA0 when both codes are known.
    on(cmd::kIsCommandAvailable, [](const ReceivedCommand& c) -> R {
        return isDefinedCommand(c.params[0]) && isDefinedCommand(c.params[1]) ? 0xA0 : 0x00;
    });
}

}  // namespace nxtka::sim
