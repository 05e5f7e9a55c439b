#include "linear_commands.h"

#include "nxtka.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace nxtka_cli {
namespace {

std::string lastFailure() {
    char text[200] = {};
    NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    return text[0] != 0 ? text : "no reason given";
}

// Points and the extra record, in the order of the file.
std::vector<LinearPoint> readTable(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError("cannot read " + path, 2);
    std::vector<LinearPoint> rows;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos)
            throw ToolError(path + ":" + std::to_string(lineNo) + ": not \"input,output\": " + line, 2);
        try {
            rows.push_back({parseNumber(line.substr(0, comma)), parseNumber(line.substr(comma + 1))});
        } catch (const ToolError&) {
            if (lineNo == 1) continue;  // a heading
            throw ToolError(path + ":" + std::to_string(lineNo) + ": not two numbers: " + line, 2);
        }
    }
    if (rows.empty()) throw ToolError(path + " holds no rows (the last row is the extra record)", 2);
    if (rows.size() > 257) throw ToolError(path + " holds more than 256 points and the extra record", 2);
    return rows;
}

}  // namespace

std::string linearErrorWords(std::int32_t info) {
    if (info >= 0) return "no error code";
    const auto word = static_cast<std::uint32_t>(info);
    if ((word & 0x80000000u) == 0 || word == 0xFFFFFFFFu) return "a memory transfer failed";
    const std::uint32_t code = word & 0x7FFFFF00u, index = word & 0xFFu;
    const std::string at = " at point " + std::to_string(index);
    const std::string after = " between point " + std::to_string(index) + " and " + std::to_string(index + 1);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", code);
    std::string what;
    switch (code) {
    case 0x400:
        what = "the amplifier does not offer linearization (option bit 7, 0x80, clear; or, from protocol level 4 "
               "on, no table layout or no command test in its memory)";
        break;
    case 0x800: what = "the amplifier's table format is unknown"; break;
    case 0xC00: what = "too many points, a single point, or more than the amplifier holds"; break;
    case 0x1100: what = "input cannot be encoded" + at; break;
    case 0x1200: what = "output cannot be encoded" + at; break;
    case 0x1300: what = "input and output cannot be encoded" + at; break;
    case 0x1500: what = "input not increasing" + after; break;
    case 0x1600: what = "output decreasing" + after; break;
    case 0x1700: what = "input not increasing and output decreasing" + after; break;
    case 0x1800: what = "slope too steep after point " + std::to_string(index); break;
    case 0x1C00: what = "the amplifier refused the write (linearization on, settings locked or marker not taken)"; break;
    case 0x2000: what = "a memory transfer moved fewer bytes than asked"; break;
    case 0x2400: what = "mode outside 0..3"; break;
    case 0x2800: what = "the extra record's input is out of range"; break;
    case 0x2C00: what = "the extra record's output is not one of the amplifier's ranges"; break;
    case 0x3000: what = "the amplifier refused the command"; break;
    default: what = "unknown error"; break;
    }
    return std::string(hex) + ": " + what;
}

void checkLinear(const LinearRun& run) {
    if (run.action != "read" && run.action != "write" && run.action != "check")
        throw ToolError("linear takes read, write or check, not '" + run.action + "'", 2);
    if (run.action != "read") (void)readTable(run.table);
    checkTarget(run.target);
}

int runLinear(const LinearRun& run, SignalWatch& signals) {
    checkLinear(run);
    if (run.action == "read") {
        std::vector<LinearPoint> table(257);
        ActivePort port(run.target, signals);
        std::int32_t info = 0;
        if (TKAcopyLinear(port.port(), table.data(), static_cast<std::int32_t>(table.size()), &info) < 0)
            throw ToolError("reading the table failed (" + linearErrorWords(info) + "; " + lastFailure() + ")");
        const std::size_t n = static_cast<std::size_t>(info);
        std::FILE* out = std::fopen(run.table.c_str(), "w");
        if (out == nullptr) throw ToolError("cannot write " + run.table);
        std::fprintf(out, "input,output\n");
        for (std::size_t i = 0; i <= n && i < table.size(); ++i) std::fprintf(out, "%.9g,%.9g\n", table[i].x, table[i].y);
        if (std::fclose(out) != 0) throw ToolError("cannot write " + run.table);
        std::printf("%zu points and the extra record read to %s\n", n, run.table.c_str());
        return 0;
    }
    std::vector<LinearPoint> table = readTable(run.table);
    const auto points = static_cast<std::int32_t>(table.size() - 1);
    const bool checkOnly = run.checkOnly || run.action == "check";
    ActivePort port(run.target, signals);
    std::int32_t info = (checkOnly ? 1 : 0) | (run.sort ? NXTKA_LINEAR_SORT : 0) |
                        (run.verify ? 0 : NXTKA_LINEAR_NO_VERIFY);
    if (TKAcopyLinear(port.port(), table.data(), -points, &info) < 0)
        throw ToolError(std::string(checkOnly ? "checking" : "writing") + " the table failed (" +
                        linearErrorWords(info) + "; " + lastFailure() + ")");
    std::printf("%d points %s\n", points, checkOnly ? "checked: the amplifier would take them" : "written");
    return 0;
}

}  // namespace nxtka_cli
