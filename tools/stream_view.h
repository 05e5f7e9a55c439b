// The value stream of an active port, shown live and written to CSV; used by
// `monitor` and `demo`.
#pragma once

#include "cli_core.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace nxtka_cli {

class ActivePort;
class CsvSink;
class SignalWatch;
struct Scale;

enum class ViewMode {
    lines,  // one line per value (also whenever stdout is not a terminal)
    live,   // a panel redrawn ten times a second: value, bar, rate, range, sparkline
    none,   // nothing per value (the CSV rows go to stdout)
};

struct StreamOptions {
    std::optional<std::uint64_t> count;  // stop after this many values
    std::optional<double> seconds;       // stop after this long
    CsvSink* csv = nullptr;              // the rows, when asked for
    const Scale* scale = nullptr;        // each line also shows the scaled value
    ViewMode mode = ViewMode::lines;
    bool utf8 = false;
};

struct StreamResult {
    StreamStats stats;
    double elapsedS = 0.0;
    bool interrupted = false;  // Ctrl-C or SIGTERM
    bool readerGone = false;   // the reader of stdout went away
};

// Reads values until the count or time is reached or a signal asks to stop.
// Throws ToolError when the port fails or the CSV file cannot be written.
StreamResult runStream(const ActivePort& port, const StreamOptions& options, SignalWatch& signals);

void printSummary(const StreamResult& result, bool utf8, std::FILE* to = stdout);

// The mode --view names (auto, lines, live); without a terminal on stdout,
// always lines.
ViewMode viewModeNamed(const std::string& view);

// True when stdout is a terminal that shows UTF-8.
bool terminalIsUtf8();

}  // namespace nxtka_cli
