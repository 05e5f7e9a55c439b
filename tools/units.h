// Engineering units of measured values. A value leaves the library
// normalized (1.0 is the amplifier's input range, 1.05 the end of scale);
// a Scale turns it into mV/V (times the input range), into the sensor's
// unit (capacity at rated output) or into the user's own two-point scale.
// The amplifier's figures are read once, when the scale is resolved.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace nxtka_cli {

struct ScaleRequest {
    enum class Kind { normalized, mvPerV, sensor, twoPoint };
    Kind kind = Kind::normalized;
    std::string unitName;  // printed with sensor and twoPoint ("N", "kg")
    // twoPoint: (normalized, scaled) twice, normalized values different.
    std::array<std::pair<double, double>, 2> points{};
};

struct Scale {
    double factor = 1.0;
    double offset = 0.0;
    std::string unit = "normalized";
    // Where the factor came from, for headers and run.json:
    // "input range 2 mV/V", "capacity 500 N at rated output 2 mV/V, input
    // range 2 mV/V", "two points 0=0,1=500".
    std::string source = "normalized";
    double apply(double normalized) const { return normalized * factor + offset; }
};

// "0=0,1=500" (normalized=scaled, twice). Throws ToolError (status 2) naming
// what is wrong.
std::array<std::pair<double, double>, 2> parseTwoPoints(const std::string& text);

// From --unit (normalized, mV/V, sensor; empty = normalized), --unit-name
// and --scale (which overrides --unit). Throws ToolError (status 2).
ScaleRequest scaleFromOptions(const std::string& unit, const std::string& unitName, const std::string& scaleText);

// The scale of a two-point request, or of one whose amplifier figures are
// given (input range in mV/V, rated output in mV/V, capacity); the figures
// are checked (above 0). Throws ToolError (status 1) naming the figure.
Scale scaleOf(const ScaleRequest& request, double inputRange, double ratedOutput, double capacity);

// Reads what the request needs from the active amplifier on `port` (the
// input range, and the rated output and capacity for a sensor scale), once.
// Throws ToolError naming what could not be read.
Scale resolveScale(std::uint32_t port, const ScaleRequest& request);

}  // namespace nxtka_cli
