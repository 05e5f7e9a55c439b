#include "settings.h"

#include "nxtka.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace nxtka_cli {

Reading textReading(std::int32_t result, const char* buffer, std::size_t size) {
    if (result != 0) return {};
    const std::string_view value(buffer, strnlen(buffer, size));
    return {Outcome::ok, printableText(value), std::string(value), {}, {}};
}

std::string exactText(std::string_view value, std::size_t size) {
    if (value.size() != size)
        throw ToolError("'" + std::string(value) + "' has " + std::to_string(value.size()) + " characters, not " +
                            std::to_string(size),
                        kExitUsage);
    return std::string(value);
}

namespace {

std::string hexWithDecimal(std::int64_t v, int digits) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "0x%0*llX (%lld)", digits, static_cast<unsigned long long>(v),
                  static_cast<long long>(v));
    return buf;
}

// A getter that fails although the amplifier answered: what it holds.
std::string heldInstead(const Setting& setting, std::uint32_t port) {
    if (std::strcmp(setting.name, "adapt-threshold") == 0) {
        const std::int32_t mask = TKAgetAdaptFilterMask(port);
        if (mask >= 0)
            return "the amplifier holds the adaptive-filter mask " + formatHex24(mask) +
                   ", which stands for no threshold (a threshold's mask is 0xFFxx00)";
    }
    return std::string("the amplifier answered with a value that stands for no ") + setting.name + " (" +
           setting.getName + " returned -1)";
}

}  // namespace

std::string formatDecimal(std::int64_t v) { return std::to_string(v); }
std::string formatHex8(std::int64_t v) { return hexWithDecimal(v, 2); }
std::string formatHex16(std::int64_t v) { return hexWithDecimal(v, 4); }
std::string formatHex24(std::int64_t v) { return hexWithDecimal(v, 6); }
std::string formatBaud(std::int64_t v) { return std::to_string(v) + " bit/s"; }

std::string formatReal(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

const Setting* findSetting(std::string_view name) {
    for (const Setting& s : settingsTable())
        if (name == s.name) return &s;
    return nullptr;
}

const Setting& settingNamed(std::string_view name) {
    const Setting* s = findSetting(name);
    if (s == nullptr)
        throw ToolError("unknown setting '" + std::string(name) + "' (get --list shows them)", kExitUsage);
    return *s;
}

Reading readSetting(const Setting& setting, std::uint32_t port) {
    Reading r = setting.get(port);
    r.unit = setting.unit;
    if (r.outcome == Outcome::ok) return r;
    char reason[200] = {};
    NXgetLastFailure(reason, static_cast<std::int32_t>(sizeof reason));
    r.failure = reason[0] != 0 ? std::string(reason) : heldInstead(setting, port);
    return r;
}

bool holdsValue(const Reading& reading, std::string_view typed) {
    if (const auto* held = std::get_if<double>(&reading.plain)) {
        const double asked = parseNumber(typed);
        return std::fabs(asked - *held) <= 1e-9 * std::max(1.0, std::fabs(asked));
    }
    if (const auto* held = std::get_if<std::int64_t>(&reading.plain)) {
        try {
            return parseInteger(typed, std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max()) == *held;
        } catch (const ToolError&) {
        }
        try {
            return (parseSwitch(typed) ? 1 : 0) == *held;
        } catch (const ToolError&) {
        }
    }
    if (const auto* held = std::get_if<std::string>(&reading.plain)) return typed == *held;
    return typed == reading.text;
}

}  // namespace nxtka_cli
