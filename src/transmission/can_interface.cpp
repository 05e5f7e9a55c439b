// CAN interface: 16-bit settings by index, and the bit rate, identifiers and
// flags built on them.
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/speed_tables.h"
#include "nxtka.h"

using namespace nxtka;

namespace {

std::int32_t getFlags(std::uint32_t port) { return TKAgetCanSetting(port, can::kFlagsIndex); }
std::int32_t setFlags(std::uint32_t port, std::int32_t value) {
    return TKAsetCanSetting(port, can::kFlagsIndex, value);
}
std::int32_t getMode(std::uint32_t port) { return TKAgetCanSetting(port, can::kModeIndex); }
std::int32_t setMode(std::uint32_t port, std::int32_t value) { return TKAsetCanSetting(port, can::kModeIndex, value); }

// The parameter of a setting: index (with bit 7 for the upper half, 1..255
// without index 0x80) and a 16-bit value.
std::optional<std::uint32_t> settingWord(std::int32_t index, std::int32_t value) {
    const auto i = static_cast<std::uint32_t>(index);
    if (i > 0xFF || (i & ~can::kUpperHalf) == 0 || value < 0 || value > 0xFFFF) return std::nullopt;
    return (i << 16) | static_cast<std::uint32_t>(value);
}

constexpr const char* kSettingRefused = "CAN setting index or value outside its range";

std::uint32_t lowerHalfIndex(std::int32_t index) { return static_cast<std::uint32_t>(index) & ~can::kUpperHalf; }
std::uint32_t upperHalfIndex(std::int32_t index) { return static_cast<std::uint32_t>(index) | can::kUpperHalf; }

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAsetCanSetting(uint32_t port, int32_t index, int32_t value) {
    // checked after the port checks, as the amplifier's documentation has it
    return setEncodedInSession(port, cmd::kSetCanSetting, kSettingRefused,
                               [&](const PortSession&) { return settingWord(index, value); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanSetting(uint32_t port, int32_t index) {
    return guardedGet(port, cmd::kGetCanSetting, static_cast<std::uint32_t>(index) & 0xFF);
}

NXTKA_API int32_t NXTKA_CALL TKAsetCanBaud(uint32_t port, int32_t index) {
    if (index <= 0) return refuseArgument("CAN bit-rate index below 1");
    return setEncodedInSession(port, cmd::kSetCanSetting, kSettingRefused,
                               [&](const PortSession&) { return settingWord(can::kBitRateIndex, index); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaud(uint32_t port) {
    return guardedGet(port, cmd::kGetCanSetting, static_cast<std::uint32_t>(can::kBitRateIndex));
}
NXTKA_API int32_t NXTKA_CALL TKAsetCanBaudRate(uint32_t port, int32_t rate) {
    const std::int32_t index = speeds::positionOf(speeds::kCan, rate);
    return index < 0 ? refuseArgument("CAN bit rate not in the table")
                     : TKAsetCanSetting(port, can::kBitRateIndex, index);
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaudRate(uint32_t port) {
    const std::int32_t index = TKAgetCanSetting(port, can::kBitRateIndex);
    if (index < 0) return index;
    const std::int32_t rate = speeds::rateAt(speeds::kCan, index);
    if (rate < 0) recordAnswerFailure("no CAN bit rate for this index", static_cast<std::uint32_t>(index));
    return rate;
}

NXTKA_API int32_t NXTKA_CALL TKAsetCanID(uint32_t port, int32_t index, int32_t id) {
    return underGuard(port, [&](PortSession&) -> std::int32_t {
        const auto bits = static_cast<std::uint32_t>(id);
        const std::int32_t low =
            TKAsetCanSetting(port, static_cast<std::int32_t>(lowerHalfIndex(index)), static_cast<std::int32_t>(bits & 0xFFFF));
        const std::int32_t high =
            TKAsetCanSetting(port, static_cast<std::int32_t>(upperHalfIndex(index)), static_cast<std::int32_t>(bits >> 16));
        return low != 0 ? low : high;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanID(uint32_t port, int32_t index) {
    return underGuard(port, [&](PortSession&) -> std::int32_t {
        const std::int32_t low = TKAgetCanSetting(port, static_cast<std::int32_t>(lowerHalfIndex(index)));
        if (low < 0) return low;
        const std::int32_t high = TKAgetCanSetting(port, static_cast<std::int32_t>(upperHalfIndex(index)));
        if (high < 0) return high;
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(low) & 0xFFFF) |
                                         (static_cast<std::uint32_t>(high) << 16));
    });
}

NXTKA_API int32_t NXTKA_CALL TKAisCanAvailable(uint32_t port) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (!rules::mayHaveCan(s)) return 0;
        return fieldOf(getFlags(port), can::kPresent);
    });
}
NXTKA_API int32_t NXTKA_CALL TKAsetCanActive(uint32_t port, int32_t on) {
    return setFlag(port, getFlags, setFlags, can::kActive, on);
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanActive(uint32_t port) { return fieldOf(getFlags(port), can::kActive); }
NXTKA_API int32_t NXTKA_CALL TKAsetCanMode20B(uint32_t port, int32_t on) {
    return setFlag(port, getMode, setMode, can::kMode20B, on);
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanMode20B(uint32_t port) { return fieldOf(getMode(port), can::kMode20B); }
