#include "units.h"

#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"

#include <cmath>

namespace nxtka_cli {
namespace {

std::pair<double, double> onePoint(const std::string& text, const std::string& whole) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || text.find('=', eq + 1) != std::string::npos)
        throw ToolError("--scale '" + whole + "': each point is normalized=scaled, e.g. 0=0,1=500", kExitUsage);
    try {
        return {parseNumber(text.substr(0, eq)), parseNumber(text.substr(eq + 1))};
    } catch (const ToolError& e) {
        throw ToolError("--scale '" + whole + "': " + e.what(), kExitUsage);
    }
}

std::string pointsText(const std::array<std::pair<double, double>, 2>& p) {
    return formatReal(p[0].first) + "=" + formatReal(p[0].second) + "," + formatReal(p[1].first) + "=" +
           formatReal(p[1].second);
}

void checkFigure(double v, const char* what, const char* setting) {
    if (!(std::isfinite(v) && v > 0))
        throw ToolError(std::string("the amplifier's ") + what + " is " + formatReal(v) +
                        ", not a scale (set it with `nxtka set " + setting + " VALUE`)");
}

}  // namespace

std::array<std::pair<double, double>, 2> parseTwoPoints(const std::string& text) {
    const auto comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw ToolError("--scale '" + text + "' takes two points, e.g. 0=0,1=500", kExitUsage);
    std::array<std::pair<double, double>, 2> p{onePoint(text.substr(0, comma), text),
                                               onePoint(text.substr(comma + 1), text)};
    if (p[0].first == p[1].first)
        throw ToolError("--scale '" + text + "': the two normalized values must differ", kExitUsage);
    return p;
}

ScaleRequest scaleFromOptions(const std::string& unit, const std::string& unitName, const std::string& scaleText) {
    ScaleRequest r;
    r.unitName = unitName;
    if (!scaleText.empty()) {
        r.kind = ScaleRequest::Kind::twoPoint;
        r.points = parseTwoPoints(scaleText);
        return r;
    }
    if (unit.empty() || unit == "normalized")
        r.kind = ScaleRequest::Kind::normalized;
    else if (unit == "mV/V")
        r.kind = ScaleRequest::Kind::mvPerV;
    else if (unit == "sensor")
        r.kind = ScaleRequest::Kind::sensor;
    else
        throw ToolError("unit '" + unit + "' is not one of normalized, mV/V, sensor (or give --scale)", kExitUsage);
    if (!unitName.empty() && r.kind != ScaleRequest::Kind::sensor)
        throw ToolError("a unit name goes with the sensor unit or a two-point scale", kExitUsage);
    return r;
}

Scale scaleOf(const ScaleRequest& request, double inputRange, double ratedOutput, double capacity) {
    Scale s;
    switch (request.kind) {
        case ScaleRequest::Kind::normalized:
            break;
        case ScaleRequest::Kind::twoPoint: {
            const auto& p = request.points;
            s.factor = (p[1].second - p[0].second) / (p[1].first - p[0].first);
            s.offset = p[0].second - s.factor * p[0].first;
            s.unit = request.unitName.empty() ? "scaled" : request.unitName;
            s.source = "two points " + pointsText(p);
            break;
        }
        case ScaleRequest::Kind::mvPerV:
            checkFigure(inputRange, "input range", "range");
            s.factor = inputRange;
            s.unit = "mV/V";
            s.source = "input range " + formatReal(inputRange) + " mV/V";
            break;
        case ScaleRequest::Kind::sensor:
            checkFigure(inputRange, "input range", "range");
            checkFigure(ratedOutput, "rated output", "rated-output");
            checkFigure(capacity, "sensor capacity", "capacity");
            s.factor = inputRange / ratedOutput * capacity;
            s.unit = request.unitName.empty() ? "sensor" : request.unitName;
            s.source = "capacity " + formatReal(capacity) + " " + s.unit + " at rated output " +
                       formatReal(ratedOutput) + " mV/V, input range " + formatReal(inputRange) + " mV/V";
            break;
    }
    return s;
}

Scale resolveScale(std::uint32_t port, const ScaleRequest& request) {
    using Kind = ScaleRequest::Kind;
    if (request.kind == Kind::normalized || request.kind == Kind::twoPoint) return scaleOf(request, 0, 0, 0);
    const auto failed = [](const char* what) {
        const LibraryFailure f = lastLibraryFailure();
        return ToolError(std::string("cannot read the amplifier's ") + what + " for the scale" +
                         (f.text.empty() ? std::string() : " (" + f.text + ")"));
    };
    const double range = TKAgetRange(port);
    if (range == -1.0) throw failed("input range");
    double rated = 0, capacity = 0;
    if (request.kind == Kind::sensor) {
        if (TKAgetRatedOutput(port, &rated) != 0) throw failed("rated output");
        if (TKAgetSensorCapacity(port, &capacity) != 0) throw failed("sensor capacity");
    }
    return scaleOf(request, range, rated, capacity);
}

}  // namespace nxtka_cli
