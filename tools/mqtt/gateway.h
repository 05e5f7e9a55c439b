// `nxtka publish`: the gateway's run. One thread (the caller's) waits on the
// data events of all amplifiers, cuts their values into batches, puts each
// into the amplifier's spool and publishes what the spool holds; a
// connection per amplifier carries its batches, info, state and last will.
#pragma once

#include "gateway_config.h"

#include <optional>

namespace nxtka_cli {
class Context;
}

namespace nxtka_cli::mqtt {

struct GatewayRun {
    std::optional<double> seconds;  // stop after this long; without: at Ctrl-C
};

// Returns the exit status (0 done, 1 an amplifier's line failed, 130 stopped
// by Ctrl-C) after a summary; throws ToolError for what stops it at start.
int runGateway(const GatewayConfig& config, const GatewayRun& run, Context& context);

}  // namespace nxtka_cli::mqtt
