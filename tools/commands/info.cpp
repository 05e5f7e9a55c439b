// `nxtka info`: activate and show what the library learns about the amplifier.
#include "identity.h"
#include "json_out.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

void addOptions(CLI::App&) {}

int run(Context& context) {
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const Identity identity = readIdentity(port, [&] { context.stopHere(); });
    if (!context.json) {
        printIdentity(port, identity);
        return kExitDone;
    }
    std::vector<std::pair<std::string, Reading>> readings;
    for (const auto& [s, r] : identity) readings.emplace_back(s->name, r);
    std::printf("%s\n", infoJson(port.device(), port.port(), libraryVersion(), readings).c_str());
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka info -d /dev/ttyUSB0                   protocol level, firmware, options, serial number\n"
    "  nxtka info -p 3 --baud 115200                the amplifier on /dev/ttyS3 at 115200 bit/s\n"
    "  nxtka info -d /dev/ttyUSB0 --json\n";

}  // namespace

extern const Subcommand kInfoCommand{
    "info", "activate and show what the library knows about the amplifier", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
