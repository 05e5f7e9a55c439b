// CAN interface: 16-bit settings by index, and the bit rate, identifiers and
// flags built on them.
#include "core/can_settings.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/speed_tables.h"
#include "nxtka.h"

using namespace nxtka;

namespace {

std::int32_t getFlags(std::uint32_t port) { return TKAgetCanSetting(port, can::kFlagsIndex); }
std::int32_t setFlags(std::uint32_t port, std::int32_t value) {
    return TKAsetCanSetting(port, can::kFlagsIndex, value);
}
std::int32_t setBitRateIndex(std::uint32_t port, std::int32_t index) {
    return TKAsetCanSetting(port, can::kBitRateIndex, index);
}
std::int32_t getMode(std::uint32_t port) { return TKAgetCanSetting(port, can::kModeIndex); }
std::int32_t setMode(std::uint32_t port, std::int32_t value) { return TKAsetCanSetting(port, can::kModeIndex, value); }

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAsetCanSetting(uint32_t port, int32_t index, int32_t value) {
    // checked after the port checks, as the amplifier's documentation has it
    return setEncodedInSession(port, cmd::kSetCanSetting, can::kSettingRefused,
                               [&](const PortSession&) { return can::settingWord(index, value); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanSetting(uint32_t port, int32_t index) {
    return guardedGet(port, cmd::kGetCanSetting, static_cast<std::uint32_t>(index) & 0xFF);
}

NXTKA_API int32_t NXTKA_CALL TKAsetCanBaud(uint32_t port, int32_t index) {
    if (index <= 0) return refuseArgument("CAN bit-rate index below 1");
    return setEncodedInSession(port, cmd::kSetCanSetting, can::kSettingRefused,
                               [&](const PortSession&) { return can::settingWord(can::kBitRateIndex, index); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaud(uint32_t port) {
    return guardedGet(port, cmd::kGetCanSetting, static_cast<std::uint32_t>(can::kBitRateIndex));
}
NXTKA_API int32_t NXTKA_CALL TKAsetCanBaudRate(uint32_t port, int32_t rate) {
    return setByPosition(port, speeds::kCan, rate, "CAN bit rate not in the table", setBitRateIndex);
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaudRate(uint32_t port) {
    return rateAtPosition(speeds::kCan, TKAgetCanSetting(port, can::kBitRateIndex), "no CAN bit rate for this index");
}

NXTKA_API int32_t NXTKA_CALL TKAsetCanID(uint32_t port, int32_t index, int32_t id) {
    return underGuard(port, [&](PortSession& s) { return can::writeIdentifier(s, index, id); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetCanID(uint32_t port, int32_t index) {
    return underGuard(port, [&](PortSession& s) { return can::readIdentifier(s, index); });
}

NXTKA_API int32_t NXTKA_CALL TKAisCanAvailable(uint32_t port) {
    return underGuard(port, [](PortSession& s) -> std::int32_t {
        return rules::mayHaveCan(s) ? fieldOf(can::readSetting(s, can::kFlagsIndex), can::kPresent) : 0;
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
