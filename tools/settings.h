// The table behind `get`, `set`, `list` and `info`: setting names mapped to
// the library's exported functions. Each row names its functions through the
// NXTKA_GET / NXTKA_SET macros below, which give the function's name and the
// call; adding a setting is one row in settings.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "cli_core.h"

namespace nxtka_cli {

enum class Outcome { ok, failed };

struct Reading {
    Outcome outcome = Outcome::failed;
    std::string text;  // the value, formatted (and decoded) for people
    // The plain value for scripts: the number the function returned, or the
    // text it filled in; and its unit, if any.
    std::variant<std::monostate, std::int64_t, double, std::string> plain;
    std::string unit;
    std::string failure;  // why it failed, when it did (readSetting fills it in)
};

using GetFn = Reading (*)(std::uint32_t port);
// Throws ToolError (status 2) for a value the setting does not take. With
// `apply` false only the value is checked and nothing is sent.
using SetFn = Outcome (*)(std::uint32_t port, std::string_view value, bool apply);

struct Setting {
    const char* name;       // as typed after get/set
    const char* infoLabel;  // shown by `info` under this label; nullptr: not shown
    const char* getName;    // exported function behind get; nullptr: not readable
    GetFn get;
    const char* setName;    // exported function(s) behind set; nullptr: not writable
    SetFn set;
    const char* unit;       // of the plain value ("Hz", "bit/s", "s"); "" for none
    const char* range;      // the values set takes (or get gives, for one that is only read)
    const char* help;       // what it is, in one line
    bool readBack = true;   // set reads the value back (not when the line changes under it)
};

std::span<const Setting> settingsTable();
const Setting* findSetting(std::string_view name);
// The row of that name; throws ToolError (status 2) naming `nxtka get --list`.
const Setting& settingNamed(std::string_view name);

// The row's getter on an active port, with the unit; on failure with the
// reason: the library's, or what the amplifier holds that has no value.
Reading readSetting(const Setting& setting, std::uint32_t port);
// Whether `typed` (as given to set) is the value read back: numbers compared
// as numbers, switches as on/off, the rest as text.
bool holdsValue(const Reading& reading, std::string_view typed);

// ---- used by the row macros

template <class R, class Format>
Reading readingOf(R result, Format format) {
    if constexpr (std::is_floating_point_v<R>) {
        if (result == static_cast<R>(-1.0)) return {};
        return {Outcome::ok, format(static_cast<double>(result)), static_cast<double>(result), {}, {}};
    } else {
        if (result < 0) return {};
        return {Outcome::ok, format(static_cast<std::int64_t>(result)), static_cast<std::int64_t>(result), {}, {}};
    }
}

template <class R>
Outcome outcomeOf(R result) {
    return result == 0 ? Outcome::ok : Outcome::failed;
}

Reading textReading(std::int32_t result, const char* buffer, std::size_t size);
// The value itself when it has exactly `size` characters; throws ToolError.
std::string exactText(std::string_view value, std::size_t size);

std::string formatBaud(std::int64_t v);
std::string formatDecimal(std::int64_t v);
std::string formatHex8(std::int64_t v);
std::string formatHex16(std::int64_t v);
std::string formatHex24(std::int64_t v);
std::string formatReal(double v);

}  // namespace nxtka_cli

// Each macro gives two fields of a row: the function's name and the call.

// A getter `fn(port)` returning an integer or a double, shown with `format`.
#define NXTKA_GET(fn, format) \
    #fn, [](std::uint32_t port) { return ::nxtka_cli::readingOf(fn(port), format); }
// A getter `fn(port, buffer)` filling `size` bytes of text.
#define NXTKA_GET_TEXT(fn, size)                                             \
    #fn, [](std::uint32_t port) {                                            \
        char buffer[(size) + 1] = {};                                        \
        return ::nxtka_cli::textReading(fn(port, buffer), buffer, (size));   \
    }
// A setter `fn(port, int)` taking min..max.
#define NXTKA_SET_INT(fn, min, max)                                                                   \
    #fn, [](std::uint32_t port, std::string_view value, bool apply) {                                 \
        const auto v = static_cast<std::int32_t>(::nxtka_cli::parseInteger(value, (min), (max)));     \
        return apply ? ::nxtka_cli::outcomeOf(fn(port, v)) : ::nxtka_cli::Outcome::ok;                \
    }
// A setter `fn(port, double)`.
#define NXTKA_SET_REAL(fn)                                                             \
    #fn, [](std::uint32_t port, std::string_view value, bool apply) {                  \
        const double v = ::nxtka_cli::parseNumber(value);                              \
        return apply ? ::nxtka_cli::outcomeOf(fn(port, v)) : ::nxtka_cli::Outcome::ok; \
    }
// A setter `fn(port, int)` taking on/off as 1/0.
#define NXTKA_SET_SWITCH(fn)                                                           \
    #fn, [](std::uint32_t port, std::string_view value, bool apply) {                  \
        const std::int32_t v = ::nxtka_cli::parseSwitch(value) ? 1 : 0;                \
        return apply ? ::nxtka_cli::outcomeOf(fn(port, v)) : ::nxtka_cli::Outcome::ok; \
    }
// A setter `fn(port, const char*)` taking exactly `size` characters of text.
#define NXTKA_SET_TEXT(fn, size)                                                                    \
    #fn, [](std::uint32_t port, std::string_view value, bool apply) {                               \
        const std::string text = ::nxtka_cli::exactText(value, (size));                             \
        return apply ? ::nxtka_cli::outcomeOf(fn(port, text.c_str())) : ::nxtka_cli::Outcome::ok;   \
    }
#define NXTKA_NO_GET nullptr, nullptr
#define NXTKA_NO_SET nullptr, nullptr
