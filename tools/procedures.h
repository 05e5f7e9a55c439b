// `nxtka adjust` (the amplifier's adjustment procedures, with a visible wait)
// and `nxtka ranges` (the range table).
#pragma once

#include "active_port.h"
#include "cli_core.h"
#include "signals.h"

#include <string>

namespace nxtka_cli {

// Throws ToolError (status 2) unless `which` is zero, scale, offset or cal.
void checkProcedureName(const std::string& which);
int runAdjust(const Target& target, const std::string& which, SignalWatch& signals);
int runRanges(const Target& target, SignalWatch& signals);

}  // namespace nxtka_cli
