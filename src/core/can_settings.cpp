#include "core/can_settings.h"

#include "core/export_forms.h"

namespace nxtka::can {

namespace {
std::int32_t lowerHalfIndex(std::int32_t index) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) & ~kUpperHalf);
}
std::int32_t upperHalfIndex(std::int32_t index) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) | kUpperHalf);
}
}  // namespace

std::optional<std::uint32_t> settingWord(std::int32_t index, std::int32_t value) {
    const auto i = static_cast<std::uint32_t>(index);
    if (i > 0xFF || (i & ~kUpperHalf) == 0 || value < 0 || value > 0xFFFF) return std::nullopt;
    return (i << 16) | static_cast<std::uint32_t>(value);
}

std::int32_t readSetting(PortSession& s, std::int32_t index) {
    std::uint32_t value = 0;
    const auto param = CommandParam::of(static_cast<std::uint32_t>(index) & 0xFF);
    return requestValue(s, cmd::kGetCanSetting, param, value) ? static_cast<std::int32_t>(value) : -1;
}

std::int32_t writeSetting(PortSession& s, std::int32_t index, std::int32_t value) {
    const auto word = settingWord(index, value);
    if (!word) return refuseArgument(kSettingRefused);
    return sendSetting(s, cmd::kSetCanSetting, *word) ? 0 : -1;
}

std::int32_t readIdentifier(PortSession& s, std::int32_t index) {
    const std::int32_t low = readSetting(s, lowerHalfIndex(index));
    if (low < 0) return low;
    const std::int32_t high = readSetting(s, upperHalfIndex(index));
    if (high < 0) return high;
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(low) & 0xFFFF) | (static_cast<std::uint32_t>(high) << 16));
}

std::int32_t writeIdentifier(PortSession& s, std::int32_t index, std::int32_t id) {
    const auto bits = static_cast<std::uint32_t>(id);
    const std::int32_t low = writeSetting(s, lowerHalfIndex(index), static_cast<std::int32_t>(bits & 0xFFFF));
    const std::int32_t high = writeSetting(s, upperHalfIndex(index), static_cast<std::int32_t>(bits >> 16));
    return low != 0 ? low : high;
}

}  // namespace nxtka::can
