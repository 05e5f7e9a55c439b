// The list of amplifiers that `record` and `publish` read from a TOML file:
//
//   [run]                       # record: seconds, out, format
//   [[amplifier]]
//   name = "left"               # required, unique, [A-Za-z0-9_-]+
//   device = "/dev/ttyUSB0"     # required
//   port = 0                    # optional, default: position in the list
//   baud = 38400                # optional
//   unit = "mV/V"               # optional: normalized, mV/V, sensor
//   unit_name = "N"             # with sensor (or scale): the unit printed
//   scale = "0=0,1=500"         # optional two-point scale, overrides unit
//   [amplifier.settings]        # optional, applied in file order
//   rate = "100"
//
// Every entry is checked before any device is opened.
#pragma once

#include "units.h"

#include <toml++/toml.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nxtka_cli {

struct AmplifierEntry {
    std::string name, device;
    std::uint32_t port = 0;
    std::optional<std::int32_t> baud;
    std::vector<std::pair<std::string, std::string>> settings;  // in file order
    ScaleRequest scale;
};

// The file parsed; throws ToolError (status 2) with the file, line and the
// parser's reason.
toml::table readAmplifierFile(const std::string& path);

// Every [[amplifier]] entry, checked: required keys, types, names unique
// and usable as file names and topic levels, port numbers unique and in
// range, settings that exist, can be written and take their value, the
// unit. Keys other than the ones above (and `extraKeys`, for a program that
// reads more) are refused. Throws ToolError (status 2) naming the key and
// its line.
std::vector<AmplifierEntry> amplifiersFrom(const toml::table& file, std::span<const std::string_view> extraKeys = {});

// The [run] section of `record`.
struct RunSection {
    std::optional<double> seconds;  // none: until Ctrl-C
    std::string out = "runs";
    std::string format = "csv";
};
// Throws ToolError (status 2) naming the key and its line.
RunSection runSectionFrom(const toml::table& file);

}  // namespace nxtka_cli
