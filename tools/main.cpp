// nxtka: the command-line tool of the library. Everything that talks to an
// amplifier goes through the library's public interface (nxtka.h); the tool
// only looks at device paths itself to explain failures.
#include "active_port.h"
#include "cli_core.h"
#include "nxtka.h"
#include "settings.h"
#include "signals.h"
#include "stream_view.h"
#if NXTKA_CLI_DEMO
#include "demo_server.h"
#endif

#include <CLI/CLI.hpp>

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef NXTKA_CLI_VERSION
#define NXTKA_CLI_VERSION "unknown"
#endif

namespace nxtka_cli {
namespace {

std::string libraryVersion() { return formatLibraryVersion(TKAversion(), TKArevision()); }

void addTarget(CLI::App* cmd, Target& target) {
    cmd->add_option("-d,--device", target.device, "device path of the amplifier, e.g. /dev/ttyUSB0");
    cmd->add_option("-p,--port", target.port,
                    "port number 0..1023 (with --device: the number it is mapped to; alone: /dev/ttyS<N>)");
    cmd->add_option("-b,--baud", target.baud, "line speed in bit/s (default 38400)");
}

void requireTarget(const Target& target) {
    if (!target.device && !target.port) throw ToolError("say where the amplifier is: --device PATH or --port N", 2);
}

// Without a terminal, always a line per value.
ViewMode viewModeOf(const std::string& view) {
    if (view == "lines" || ::isatty(STDOUT_FILENO) == 0) return ViewMode::lines;
    return ViewMode::live;
}

void printField(const char* label, const std::string& value) { std::printf("  %-15s %s\n", label, value.c_str()); }

// The device, the library, and every table row that `info` shows.
void printIdentity(const ActivePort& port) {
    printField("device", port.device() + " (port " + std::to_string(port.port()) + ")");
    printField("library", libraryVersion());
    std::string missing;
    for (const Setting& s : settingsTable()) {
        if (s.infoLabel == nullptr || s.get == nullptr) continue;
        if (!s.getDeclared) {
            missing += (missing.empty() ? "" : ", ") + std::string(s.infoLabel);
            continue;
        }
        const Reading r = s.get(port.port());
        printField(s.infoLabel, r.outcome == Outcome::ok ? r.text : "(no answer)");
    }
    if (!missing.empty()) printField("no getter yet", missing);
}

// ---------------------------------------------------------------- commands

int runInfo(const Target& target, SignalWatch& signals) {
    requireTarget(target);
    ActivePort port(target, signals);
    printIdentity(port);
    return 0;
}

struct MonitorArgs {
    Target target;
    std::optional<std::uint64_t> count;
    std::optional<double> seconds;
    std::string csvPath;
    std::string view = "auto";
};

std::FILE* openCsv(const std::string& path) {
    if (path.empty()) return nullptr;
    std::FILE* f = path == "-" ? stdout : std::fopen(path.c_str(), "w");
    if (f == nullptr) throw ToolError("cannot write " + path + ": " + std::strerror(errno), 2);
    return f;
}

int runMonitor(const MonitorArgs& args, SignalWatch& signals) {
    requireTarget(args.target);
    if (args.seconds && *args.seconds <= 0) throw ToolError("--seconds must be above 0", 2);
    portNumberOf(args.target);  // a bad port number before the file is made
    std::FILE* csv = openCsv(args.csvPath);
    StreamOptions opt;
    opt.count = args.count;
    opt.seconds = args.seconds;
    opt.csv = csv;
    // With the rows on stdout, the rest goes to stderr.
    std::FILE* text = csv == stdout ? stderr : stdout;
    opt.mode = csv == stdout ? ViewMode::none : viewModeOf(args.view);
    opt.utf8 = terminalIsUtf8();
    StreamResult result;
    try {
        ActivePort port(args.target, signals);
        std::fprintf(text, "monitoring %s at %d bit/s, protocol level %d%s\n", port.device().c_str(), port.baud(),
                     TKAmodel(port.port()), ::isatty(::fileno(text)) ? " (Ctrl-C stops)" : "");
        result = runStream(port, opt, signals);
        port.release();
    } catch (...) {
        if (csv != nullptr && csv != stdout) std::fclose(csv);
        throw;
    }
    if (csv != nullptr && csv != stdout && std::fclose(csv) != 0)
        throw ToolError("writing " + args.csvPath + " failed");
    printSummary(result, opt.utf8, text);
    return 0;
}

int runSend(const Target& target, const std::vector<std::string>& words, SignalWatch& signals) {
    requireTarget(target);
    const std::vector<std::uint8_t> bytes = parseHexBytes(words);
    ActivePort port(target, signals);
    if (NXsendBytes(port.port(), bytes.data(), static_cast<std::int32_t>(bytes.size())) != 0)
        throw ToolError("sending to " + port.device() + " failed (the write did not complete; check the connection)");
    std::printf("sent %zu byte%s to %s: %s\n", bytes.size(), bytes.size() == 1 ? "" : "s", port.device().c_str(),
                formatHex(bytes).c_str());
    return 0;
}

const Setting& settingNamed(const std::string& name) {
    const Setting* s = findSetting(name);
    if (s == nullptr) throw ToolError("unknown setting '" + name + "' (nxtka list shows them)", 2);
    return *s;
}

int runGet(const Target& target, const std::string& name, SignalWatch& signals) {
    const Setting& s = settingNamed(name);
    if (s.get == nullptr) throw ToolError("setting '" + name + "' can only be set", 2);
    if (!s.getDeclared)
        throw ToolError("setting '" + name + "' needs " + s.getName + ", which this library does not have yet", 2);
    requireTarget(target);
    ActivePort port(target, signals);
    const Reading r = s.get(port.port());
    if (r.outcome != Outcome::ok)
        throw ToolError("reading " + name + " from " + port.device() + " failed (" + s.getName +
                        " returned -1: no answer from the amplifier?)");
    std::printf("%s\n", r.text.c_str());
    return 0;
}

int runSet(const Target& target, const std::string& name, const std::string& value, SignalWatch& signals) {
    const Setting& s = settingNamed(name);
    if (s.set == nullptr) throw ToolError("setting '" + name + "' can only be read", 2);
    if (!s.setDeclared)
        throw ToolError("setting '" + name + "' needs " + s.setName + ", which this library does not have yet", 2);
    requireTarget(target);
    ActivePort port(target, signals);
    if (s.set(port.port(), value) != Outcome::ok)
        throw ToolError("setting " + name + " on " + port.device() + " failed (" + s.setName + " returned -1)");
    std::printf("%s set to %s\n", name.c_str(), value.c_str());
    return 0;
}

int runList(bool all) {
    std::size_t wName = 4, wGet = 3, wSet = 3;
    const auto shown = [all](const Setting& s) {
        return all || (s.get != nullptr && s.getDeclared) || (s.set != nullptr && s.setDeclared);
    };
    // Functions the header lacks are shown in parentheses.
    const auto column = [](const char* fn, bool declared) {
        if (fn == nullptr) return std::string("-");
        return declared ? std::string(fn) : "(" + std::string(fn) + ")";
    };
    for (const Setting& s : settingsTable()) {
        if (!shown(s)) continue;
        wName = std::max(wName, std::strlen(s.name));
        wGet = std::max(wGet, column(s.getName, s.getDeclared).size());
        wSet = std::max(wSet, column(s.setName, s.setDeclared).size());
    }
    const int n = static_cast<int>(wName), g = static_cast<int>(wGet), t = static_cast<int>(wSet);
    std::printf("%-*s  %-*s  %-*s  %s\n", n, "NAME", g, "GET", t, "SET", "MEANING");
    std::size_t hidden = 0;
    for (const Setting& s : settingsTable()) {
        if (!shown(s)) {
            ++hidden;
            continue;
        }
        std::printf("%-*s  %-*s  %-*s  %s\n", n, s.name, g, column(s.getName, s.getDeclared).c_str(), t,
                    column(s.setName, s.setDeclared).c_str(), s.help);
    }
    if (all)
        std::printf("(name): a function this library does not have yet\n");
    else if (hidden != 0)
        std::printf("%zu more settings wait for functions this library does not have yet (list --all)\n", hidden);
    return 0;
}

#if NXTKA_CLI_DEMO
struct DemoArgs {
    double seconds = 5.0;
    double rate = 50.0;
    std::string view = "auto";
};

int runDemo(const DemoArgs& args, SignalWatch& signals) {
    if (args.seconds <= 0) throw ToolError("--seconds must be above 0", 2);
    if (args.rate <= 0 || args.rate > 2000) throw ToolError("--rate must be above 0 and at most 2000 values/s", 2);
    const bool utf8 = terminalIsUtf8();
    DemoSignal sig;
    sig.rate = args.rate;
    sig.period = static_cast<unsigned>(std::max(8.0, args.rate * 2.0));
    DemoServer server(sig);
    std::printf("nxtka demo: a simulated amplifier, driven through libnxtka\n\n");
    Target target;
    target.device = server.device();
    StreamResult result;
    {
        ActivePort port(target, signals);
        printIdentity(port);
        std::printf("\nstreaming for %g s%s\n", args.seconds, ::isatty(STDOUT_FILENO) ? ", Ctrl-C stops" : "");
        StreamOptions opt;
        opt.seconds = args.seconds;
        opt.mode = viewModeOf(args.view);
        opt.utf8 = utf8;
        result = runStream(port, opt, signals);
        port.release();
    }
    server.stop();
    printSummary(result, utf8);
    std::printf("port released, simulator stopped\n");
    return 0;
}
#endif

}  // namespace
}  // namespace nxtka_cli

int main(int argc, char** argv) {
    using namespace nxtka_cli;

    CLI::App app{"nxtka: talk to a measuring amplifier through the nxtka library", "nxtka"};
    app.set_version_flag("--version", std::string("nxtka " NXTKA_CLI_VERSION " (library ") + libraryVersion() + ")");
    app.require_subcommand(1);

#if NXTKA_CLI_DEMO
    DemoArgs demo;
    CLI::App* demoCmd =
        app.add_subcommand("demo", "stream live values from a simulated amplifier (no hardware needed)");
    demoCmd->add_option("-s,--seconds", demo.seconds, "how long to stream")->capture_default_str();
    demoCmd->add_option("--rate", demo.rate, "values per second of the simulated amplifier")->capture_default_str();
    demoCmd->add_option("--view", demo.view, "auto, lines (one line per value) or live (a panel redrawn in place)")
        ->check(CLI::IsMember({"auto", "lines", "live"}))
        ->capture_default_str();
#endif

    Target infoTarget;
    CLI::App* infoCmd = app.add_subcommand("info", "activate and show what the library knows about the amplifier");
    addTarget(infoCmd, infoTarget);

    MonitorArgs mon;
    CLI::App* monCmd = app.add_subcommand("monitor", "live values with status, rate, range and a sparkline");
    addTarget(monCmd, mon.target);
    monCmd->add_option("-n,--count", mon.count, "stop after this many values");
    monCmd->add_option("-s,--seconds", mon.seconds, "stop after this many seconds");
    monCmd->add_option("--csv", mon.csvPath, "write time_s,value,status rows to this file (-: to stdout)");
    monCmd->add_option("--view", mon.view, "auto, lines (one line per value) or live (a panel redrawn in place)")
        ->check(CLI::IsMember({"auto", "lines", "live"}))
        ->capture_default_str();

    Target sendTarget;
    std::vector<std::string> sendWords;
    CLI::App* sendCmd = app.add_subcommand("send", "send raw bytes (service use): 2a 03, 2a03, 0x2a");
    addTarget(sendCmd, sendTarget);
    sendCmd->add_option("bytes", sendWords, "bytes in hex")->required();

    Target getTarget;
    std::string getName;
    CLI::App* getCmd = app.add_subcommand("get", "read a setting (nxtka list shows them)");
    getCmd->add_option("name", getName, "setting")->required();
    addTarget(getCmd, getTarget);

    Target setTarget;
    std::string setName, setValue;
    CLI::App* setCmd = app.add_subcommand("set", "change a setting (nxtka list shows them)");
    setCmd->add_option("name", setName, "setting")->required();
    setCmd->add_option("value", setValue, "new value")->required();
    addTarget(setCmd, setTarget);

    bool listAll = false;
    CLI::App* listCmd = app.add_subcommand("list", "the settings get and set know");
    listCmd->add_flag("-a,--all", listAll, "also those waiting for functions the library does not have yet");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    try {
        if (listCmd->parsed()) return runList(listAll);
        SignalWatch signals;
#if NXTKA_CLI_DEMO
        if (demoCmd->parsed()) return runDemo(demo, signals);
#endif
        if (infoCmd->parsed()) return runInfo(infoTarget, signals);
        if (monCmd->parsed()) return runMonitor(mon, signals);
        if (sendCmd->parsed()) return runSend(sendTarget, sendWords, signals);
        if (getCmd->parsed()) return runGet(getTarget, getName, signals);
        if (setCmd->parsed()) return runSet(setTarget, setName, setValue, signals);
    } catch (const ToolError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "nxtka: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "nxtka: %s\n", e.what());
        return 1;
    }
    return 0;
}
