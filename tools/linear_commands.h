// `nxtka linear read|write|check --table FILE.csv`: the amplifier's
// linearization table as CSV rows "input,output"; the last row is the extra
// record that names the sensor range.
#pragma once

#include "active_port.h"
#include "cli_core.h"
#include "signals.h"

#include <cstdint>
#include <string>

namespace nxtka_cli {

struct LinearRun {
    Target target;
    std::string action;  // read, write or check
    std::string table;
    bool checkOnly = false;
    bool sort = false;
    bool verify = true;  // a write reads its transfers back
};

// Argument checks that need no device (action, and for write/check a table
// file that reads and parses); throws ToolError with status 2.
void checkLinear(const LinearRun& run);
int runLinear(const LinearRun& run, SignalWatch& signals);

// The error word of a table function in words, with the offending point.
std::string linearErrorWords(std::int32_t info);

}  // namespace nxtka_cli
