// `nxtka publish CONFIG.toml`: the MQTT gateway (docs/mqtt.md).
#include "cli_core.h"
#include "mqtt/gateway.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cmath>

namespace nxtka_cli {
namespace {

struct PublishArgs {
    std::string config;
    std::optional<double> seconds;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("config", args.config,
                   "the amplifier list with [broker] and [publish] (TOML; docs/mqtt.md); the password comes from "
                   "[broker] password_file, never from the command line. --json makes the batches JSON (as "
                   "format = \"json\") and the summary too")
        ->required();
    cmd.add_option("-s,--seconds", args.seconds, "stop after this many seconds (default: at Ctrl-C)");
}

int run(Context& context) {
    if (args.seconds && !(std::isfinite(*args.seconds) && *args.seconds > 0))
        throw ToolError("--seconds must be a number above 0", kExitUsage);
    mqtt::GatewayConfig config = mqtt::readGatewayConfig(args.config, true);
    if (context.json) config.publish.format = mqtt::PayloadFormat::json;
    mqtt::GatewayRun gatewayRun;
    gatewayRun.seconds = args.seconds;
    return mqtt::runGateway(config, gatewayRun, context);
}

}  // namespace

extern const Subcommand kPublishCommand{
    "publish",
    "publish the values of an amplifier list to an MQTT broker, nothing lost",
    false,
    true,
    "Examples:\n"
    "  nxtka publish bench.toml               until Ctrl-C; what the broker has not acknowledged waits in the spool\n"
    "  nxtka publish bench.toml --json -s 60  JSON batches for a minute, then a JSON summary\n",
    addOptions,
    run,
};

}  // namespace nxtka_cli
