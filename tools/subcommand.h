// A subcommand of the tool: its name and summary, the options it adds to its
// CLI11 command, and what it runs. Each lives in its own file under
// commands/ and is named once in subcommand_list.cpp.
#pragma once

#include "active_port.h"
#include "signals.h"

#include <optional>
#include <span>
#include <string>

namespace CLI {
class App;
}

namespace nxtka_cli {

// What a subcommand runs with.
class Context {
public:
    Target target;      // --device, --port, --baud; those after the command win
    bool json = false;  // --json before or after the command
    // Ctrl-C and friends; made at the first call, which must come before the
    // subcommand starts any thread (the library's included). A press is
    // answered with "stopping when the amplifier has answered" until the
    // command says otherwise (SignalWatch::setStopPoint).
    SignalWatch& signals();
    // A safe point: when Ctrl-C asked to stop, throws ToolError with status
    // 130, "interrupted" and `progress` (how far the command got, where to
    // resume).
    void stopHere(const std::string& progress = {});

private:
    std::optional<SignalWatch> signals_;
};

struct Subcommand {
    const char* name;
    const char* summary;
    bool usesDevice;  // main adds --device, --port and --baud
    bool printsJson;  // main adds --json
    const char* examples;  // the end of its --help: "Examples:" and a few command lines
    // Adds the subcommand's own options (and nested commands) to `command`.
    void (*addOptions)(CLI::App& command);
    // Runs with the parsed options; returns the exit status or throws
    // ToolError.
    int (*run)(Context& context);
};

// Every subcommand, in the order of the help text.
std::span<const Subcommand* const> subcommands();

}  // namespace nxtka_cli
