// `nxtka monitor`: live values with status, rate, range and a sparkline, and
// optionally a CSV file of them.
#include "csv_sink.h"
#include "json_out.h"
#include "nxtka.h"
#include "output_file.h"
#include "stream_view.h"
#include "subcommand.h"
#include "units.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace nxtka_cli {
namespace {

struct MonitorArgs {
    std::optional<std::int64_t> count;
    std::optional<double> seconds;
    std::string csvPath;
    bool append = false;
    std::string view = "auto";
    std::string unit, unitName, scale;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("-n,--count", args.count, "stop after this many values");
    cmd.add_option("-s,--seconds", args.seconds, "stop after this many seconds");
    cmd.add_option("--csv", args.csvPath,
                   "write sample,read_time_s,value,status rows to this file (-: to stdout); the file is made "
                   "once values arrive and replaces an earlier one only at the end");
    cmd.add_flag("-a,--append", args.append, "add the rows to the end of the --csv file");
    cmd.add_option("--view", args.view, "auto, lines (one line per value) or live (a panel redrawn in place)")
        ->check(CLI::IsMember({"auto", "lines", "live"}))
        ->capture_default_str();
    cmd.add_option("--unit", args.unit,
                   "also show each value as mV/V (times the input range), in the sensor's unit (its capacity at "
                   "its rated output) or normalized (the default)")
        ->check(CLI::IsMember({"normalized", "mV/V", "sensor"}));
    cmd.add_option("--unit-name", args.unitName, "the unit printed with --unit sensor or --scale, e.g. N");
    cmd.add_option("--scale", args.scale,
                   "two points normalized=scaled, e.g. 0=0,1=500: overrides --unit; read once at the start and "
                   "written into the CSV file's first line and the --json summary");
}

// Every check that needs no device, before anything is opened or made.
void checkArgs(const Context& context) {
    checkTarget(context.target);
    if (args.count && *args.count < 1) throw ToolError("--count must be 1 or more", kExitUsage);
    if (args.seconds && !(std::isfinite(*args.seconds) && *args.seconds > 0))
        throw ToolError("--seconds must be a number above 0", kExitUsage);
    if (args.append && args.csvPath.empty()) throw ToolError("--append needs --csv FILE", kExitUsage);
    if (args.append && args.csvPath == "-") throw ToolError("--append needs a file, not stdout", kExitUsage);
    if (args.append && scaleFromOptions(args.unit, args.unitName, args.scale).kind != ScaleRequest::Kind::normalized)
        throw ToolError("--append adds normalized rows only: leave out --unit and --scale", kExitUsage);
}

// Where the rows of a run that ended part-way are.
std::string rowsNote(CsvSink& csv) {
    if (csv.rows() == 0 || csv.toStdout()) return {};
    const std::string rows = "the " + std::to_string(csv.rows()) + " rows read";
    if (csv.appending()) {
        csv.keepPartial();
        return "; " + rows + " were added to " + args.csvPath;
    }
    return partialNote(args.csvPath, csv.keepPartial(), rows + " are");
}

int run(Context& context) {
    checkArgs(context);
    const ScaleRequest request = scaleFromOptions(args.unit, args.unitName, args.scale);
    Scale scale;
    CsvSink csv(args.csvPath, args.append);
    StreamOptions opt;
    if (args.count) opt.count = static_cast<std::uint64_t>(*args.count);
    opt.seconds = args.seconds;
    if (csv.enabled()) opt.csv = &csv;
    // With the rows on stdout, the rest goes to stderr; with --json, the
    // summary is the only thing on stdout.
    std::FILE* text = csv.toStdout() || context.json ? stderr : stdout;
    std::FILE* summaryTo = csv.toStdout() ? stderr : stdout;
    opt.mode = csv.toStdout() || context.json ? ViewMode::none : viewModeNamed(args.view);
    opt.utf8 = terminalIsUtf8();
    StreamResult result;
    std::string device;
    try {
        ActivePort port(context.target, context.signals());
        device = port.device();
        if (request.kind != ScaleRequest::Kind::normalized) {
            scale = resolveScale(port.port(), request);
            opt.scale = &scale;
            csv.setScale(&scale);
        }
        std::fprintf(text, "monitoring %s at %d bit/s, protocol level %d%s\n", port.device().c_str(), port.baud(),
                     TKAmodel(port.port()), ::isatty(::fileno(text)) ? " (Ctrl-C stops)" : "");
        if (opt.scale != nullptr) std::fprintf(text, "scale %s: %s\n", scale.unit.c_str(), scale.source.c_str());
        std::fflush(text);
        context.signals().setStopPoint(nullptr);
        result = runStream(port, opt, context.signals());
        port.release();
    } catch (const ToolError& e) {
        throw ToolError(e.what() + rowsNote(csv), e.status());
    }
    // Ctrl-C ends a monitor without a limit; one with a limit it cuts short.
    const bool cut = result.interrupted && (args.count || args.seconds);
    const std::string note = cut ? rowsNote(csv) : std::string();
    if (!cut) csv.finish();
    if (context.json)
        std::fprintf(summaryTo, "%s\n",
                     summaryJson(device, result, csv.toStdout() ? std::string() : args.csvPath, csv.rows(),
                                 opt.scale).c_str());
    else if (!result.readerGone || summaryTo != stdout)
        printSummary(result, opt.utf8, summaryTo);
    if (cut)
        throw ToolError("interrupted after " + std::to_string(result.stats.count()) + " values" + note,
                        kExitInterrupted);
    return result.stats.count() == 0 ? kExitNothingMeasured : kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka monitor -d /dev/ttyUSB0                live values until Ctrl-C\n"
    "  nxtka monitor -d /dev/ttyUSB0 -s 10 --csv run.csv      ten seconds of values into run.csv\n"
    "  nxtka monitor -d /dev/ttyUSB0 --csv run.csv --append   more rows, numbered on\n"
    "  nxtka monitor -d /dev/ttyUSB0 --csv - | head -5        rows on standard output\n"
    "  nxtka monitor -d /dev/ttyUSB0 --unit sensor --unit-name N   values also in N\n"
    "  nxtka monitor -d /dev/ttyUSB0 --scale 0=0,1=500 --unit-name kg --csv run.csv   a scale of your own\n";

}  // namespace

extern const Subcommand kMonitorCommand{
    "monitor", "live values with status, rate, range and a sparkline", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
