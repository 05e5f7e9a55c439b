// nxtka: the command-line tool of the library. Everything that talks to an
// amplifier goes through the library's public interface (nxtka.h); the tool
// looks at device paths itself only to explain failures, to list the ports,
// and for `send --wait`, which needs the raw bytes that come back.
// Subcommands live in commands/, one file each, listed in subcommand_list.cpp.
#include "cli_core.h"
#include "command_word.h"
#include "nxtka.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#ifndef NXTKA_CLI_VERSION
#define NXTKA_CLI_VERSION "unknown"
#endif

namespace nxtka_cli {
namespace {

void addTarget(CLI::App& cmd, Target& target) {
    cmd.add_option("-d,--device", target.device, "device path of the amplifier, e.g. /dev/ttyUSB0");
    cmd.add_option("-p,--port", target.port,
                   "port number 0..1023 (with --device: the number it is mapped to; alone: /dev/ttyS<N>)");
    cmd.add_option("-b,--baud", target.baud, "line speed in bit/s (default 38400)");
}

// Options may stand before the subcommand too; those after it win.
Target merged(const Target& own, const Target& before) {
    Target t = own;
    if (!t.device) t.device = before.device;
    if (!t.port) t.port = before.port;
    if (!t.baud) t.baud = before.baud;
    return t;
}

// The commands that take the options: the subcommand itself, or each of its
// nested commands (memory dump, memory write, ...).
std::vector<CLI::App*> leavesOf(CLI::App* cmd) {
    std::vector<CLI::App*> nested = cmd->get_subcommands([](CLI::App*) { return true; });
    return nested.empty() ? std::vector<CLI::App*>{cmd} : nested;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka ports                                  serial ports, their USB ids and who holds them\n"
    "  nxtka info -d /dev/ttyUSB0                   what the amplifier says about itself\n"
    "  nxtka monitor -d /dev/ttyUSB0 -s 10 --csv run.csv   ten seconds of values into run.csv\n"
    "  nxtka -d /dev/ttyUSB0 get baud --json        one setting for a script\n"
    "Options before the command (-d, -p, -b, --json) apply to it; nxtka COMMAND --help shows a command's\n"
    "options and examples. Exit status: 0 done, 1 the device or the amplifier failed, 2 a bad argument or a\n"
    "refused value, 3 nothing measured, 130 interrupted.";

int run(int argc, char** argv) {
    CLI::App app{"nxtka: talk to a measuring amplifier through the nxtka library", "nxtka"};
    app.set_version_flag("--version", std::string("nxtka " NXTKA_CLI_VERSION " (library ") +
                                          formatLibraryVersion(TKAversion(), TKArevision()) + ")");
    app.require_subcommand(1);
    Target before, own;
    bool jsonBefore = false, jsonOwn = false;
    addTarget(app, before);
    app.add_flag("--json", jsonBefore, "print JSON (every command but demo)");

    std::vector<std::pair<const Subcommand*, CLI::App*>> commands;
    for (const Subcommand* s : subcommands()) {
        CLI::App* cmd = app.add_subcommand(s->name, s->summary);
        cmd->footer(s->examples);  // nested commands start from it
        s->addOptions(*cmd);
        for (CLI::App* leaf : leavesOf(cmd)) {
            if (s->usesDevice) addTarget(*leaf, own);
            if (s->printsJson) leaf->add_flag("--json", jsonOwn, "print JSON");
        }
        commands.emplace_back(s, cmd);
    }
    app.footer(kExamples);  // after the subcommands, which would take it over

    checkCommandWord(argc, argv);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitDone : kExitUsage;
    }
    for (const auto& [s, cmd] : commands) {
        if (!cmd->parsed()) continue;
        if (jsonBefore && !s->printsJson)
            throw ToolError(std::string(s->name) + " prints no JSON (--json is for the other commands)", kExitUsage);
        Context context;
        context.target = merged(own, before);
        context.json = jsonOwn || jsonBefore;
        return s->run(context);
    }
    return kExitUsage;
}

}  // namespace
}  // namespace nxtka_cli

int main(int argc, char** argv) {
    try {
        return nxtka_cli::run(argc, argv);
    } catch (const nxtka_cli::ToolError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "nxtka: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "nxtka: %s\n", e.what());
        return 1;
    }
}
