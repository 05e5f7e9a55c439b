// `nxtka linear read|write|check --table FILE.csv`: the amplifier's
// linearization table as CSV rows "input,output"; the last row is the extra
// record that names the sensor range.
#include "cli_core.h"
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "output_file.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

namespace nxtka_cli {
namespace {

struct LinearArgs {
    std::string action;  // read, write or check
    std::string table;
    bool checkOnly = false;
    bool sort = false;
    bool unverified = false;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("action", args.action, "read, write or check")->required();
    cmd.add_option("--table", args.table,
                   "CSV file, rows input,output; the last row is the extra record (-: standard input or output)")
        ->required();
    cmd.add_flag("--check", args.checkOnly, "validate the table without writing it");
    cmd.add_flag("--sort", args.sort, "sort the points by input first");
    cmd.add_flag("--no-verify", args.unverified, "write without reading the table's bytes back");
}

// Points and the extra record, in the order of the file ("-": standard input).
std::vector<LinearPoint> readTable(const std::string& file) {
    std::ifstream opened;
    if (file != "-") {
        opened.open(file);
        if (!opened) throw ToolError("cannot read " + file, kExitUsage);
    }
    std::istream& in = file == "-" ? std::cin : opened;
    const std::string path = file == "-" ? "standard input" : file;
    std::vector<LinearPoint> rows;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos)
            throw ToolError(path + ":" + std::to_string(lineNo) + ": not \"input,output\": " + line, kExitUsage);
        try {
            rows.push_back({parseNumber(line.substr(0, comma)), parseNumber(line.substr(comma + 1))});
        } catch (const ToolError&) {
            if (lineNo == 1) continue;  // a heading
            throw ToolError(path + ":" + std::to_string(lineNo) + ": not two numbers: " + line, kExitUsage);
        }
    }
    if (rows.empty()) throw ToolError(path + " holds no rows (the last row is the extra record)", kExitUsage);
    if (rows.size() > 257) throw ToolError(path + " holds more than 256 points and the extra record", kExitUsage);
    return rows;
}

// The error word of a table function in words, with the offending point.
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
    case 0x1C00:
        what = "the amplifier refused the write (linearization on, settings locked or marker not taken)";
        break;
    case 0x2000: what = "a memory transfer moved fewer bytes than asked"; break;
    case 0x2400: what = "mode outside 0..3"; break;
    case 0x2800: what = "the extra record's input is out of range"; break;
    case 0x2C00: what = "the extra record's output is not one of the amplifier's ranges"; break;
    case 0x3000: what = "the amplifier refused the command"; break;
    default: what = "unknown error"; break;
    }
    return std::string(hex) + ": " + what;
}

// Why a table call failed: its error code in words, and the library's reason
// when it recorded one.
std::string tableFailure(std::int32_t info) {
    const LibraryFailure why = lastLibraryFailure();
    return linearErrorWords(info) + (why.text.empty() ? "" : " (" + why.text + ")");
}

// The points the amplifier holds and the extra record, as CSV.
int runRead(Context& context) {
    OutputFile out(args.table, "--table");
    std::vector<LinearPoint> table(257);
    ActivePort port(context.target, context.signals());
    std::int32_t info = 0;
    if (TKAcopyLinear(port.port(), table.data(), static_cast<std::int32_t>(table.size()), &info) < 0)
        throw ToolError("reading the table failed: " + tableFailure(info));
    context.stopHere("nothing written");
    // The extra record follows the points, in the last entry at most.
    const std::size_t n = std::min(static_cast<std::size_t>(info), table.size() - 1);
    std::fprintf(out.stream(), "input,output\n");
    for (std::size_t i = 0; i <= n; ++i) std::fprintf(out.stream(), "%.9g,%.9g\n", table[i].x, table[i].y);
    out.commit();
    if (context.json) {
        const std::vector<LinearPoint> points(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
        std::printf("%s\n", linearTableJson(args.table, points, table[n]).c_str());
    } else {
        std::fprintf(out.toStdout() ? stderr : stdout, "%zu points and the extra record read to %s\n", n,
                     out.toStdout() ? "standard output" : args.table.c_str());
    }
    return kExitDone;
}

int runWrite(Context& context, std::vector<LinearPoint> table) {
    const auto points = static_cast<std::int32_t>(table.size() - 1);
    const bool checkOnly = args.checkOnly || args.action == "check";
    ActivePort port(context.target, context.signals());
    context.signals().setStopPoint(checkOnly ? "when the amplifier has checked the table"
                                             : "when the table is written whole (it cannot be left half written)");
    std::int32_t info = (checkOnly ? 1 : 0) | (args.sort ? NXTKA_LINEAR_SORT : 0) |
                        (args.unverified ? NXTKA_LINEAR_NO_VERIFY : 0);
    if (TKAcopyLinear(port.port(), table.data(), -points, &info) < 0)
        throw ToolError(std::string(checkOnly ? "checking" : "writing") + " the table failed: " + tableFailure(info));
    if (context.json)
        std::printf("%s\n", linearWriteJson(checkOnly ? "check" : "write", points, !checkOnly).c_str());
    else
        std::printf("%d points %s\n", points, checkOnly ? "checked: the amplifier would take them" : "written");
    context.stopHere(checkOnly ? "after the check" : "after the table was written whole");
    return kExitDone;
}

int run(Context& context) {
    if (args.action != "read" && args.action != "write" && args.action != "check")
        throw ToolError("linear takes read, write or check, not '" + args.action + "'", kExitUsage);
    if (args.action == "read") {
        if (context.json && args.table == "-")
            throw ToolError("--json and --table - both want standard output: give --table a file", kExitUsage);
        checkTarget(context.target);
        return runRead(context);
    }
    std::vector<LinearPoint> table = readTable(args.table);
    checkTarget(context.target);
    return runWrite(context, std::move(table));
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka linear read -d /dev/ttyUSB0 --table lin.csv     the table into lin.csv\n"
    "  nxtka linear check -d /dev/ttyUSB0 --table lin.csv --sort   would the amplifier take it?\n"
    "  nxtka linear write -d /dev/ttyUSB0 --table lin.csv\n";

}  // namespace

extern const Subcommand kLinearCommand{
    "linear", "the linearization table as CSV: read, write or check", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
