// nxtka: the command-line tool of the library. Everything that talks to an
// amplifier goes through the library's public interface (nxtka.h); the tool
// looks at device paths itself only to explain failures, to list the ports,
// and for `send --wait`, which needs the raw bytes that come back.
#include "active_port.h"
#include "cli_core.h"
#include "csv_sink.h"
#include "json_out.h"
#include "nxtka.h"
#include "port_list.h"
#include "linear_commands.h"
#include "memory_commands.h"
#include "procedures.h"
#include "raw_exchange.h"
#include "settings.h"
#include "signals.h"
#include "stream_view.h"
#if NXTKA_CLI_DEMO
#include "demo_server.h"
#endif

#include <CLI/CLI.hpp>

#include <unistd.h>
#include <cerrno>
#include <cmath>
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

// Options may stand before the subcommand too; those after it win.
Target merged(const Target& own, const Target& before) {
    Target t = own;
    if (!t.device) t.device = before.device;
    if (!t.port) t.port = before.port;
    if (!t.baud) t.baud = before.baud;
    return t;
}

constexpr const char* kCommands[] = {
#if NXTKA_CLI_DEMO
    "demo",
#endif
    "info", "monitor", "send", "get", "set", "list", "ports", "adjust", "ranges", "memory", "linear"};

// The first word that is not an option (or an option's value), so that a
// mistyped command is named as such.
std::optional<std::string> commandWord(int argc, char** argv) {
    static const char* const kWithValue[] = {"-d", "--device", "-p", "--port", "-b", "--baud"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") return std::nullopt;
        if (a.size() > 1 && a[0] == '-') {
            for (const char* o : kWithValue)
                if (a == o) ++i;
            continue;
        }
        return a;
    }
    return std::nullopt;
}

void checkCommandWord(int argc, char** argv) {
    const auto word = commandWord(argc, argv);
    if (!word) return;
    std::string known, close;
    for (const char* c : kCommands) {
        if (*word == c) return;
        known += (known.empty() ? "" : ", ") + std::string(c);
        const std::string cmd = c;
        if (close.empty() && !word->empty() && (cmd.rfind(*word, 0) == 0 || word->rfind(cmd, 0) == 0)) close = cmd;
    }
    throw ToolError("unknown command '" + *word + "'" + (close.empty() ? "" : " (did you mean " + close + "?)") +
                        "; commands: " + known,
                    2);
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

int runInfo(const Target& target, bool json, SignalWatch& signals) {
    checkTarget(target);
    ActivePort port(target, signals);
    if (!json) {
        printIdentity(port);
        return 0;
    }
    std::vector<std::pair<std::string, Reading>> readings;
    std::vector<std::string> missing;
    for (const Setting& s : settingsTable()) {
        if (s.infoLabel == nullptr || s.get == nullptr) continue;
        if (s.getDeclared)
            readings.emplace_back(s.name, s.get(port.port()));
        else
            missing.emplace_back(s.name);
    }
    std::printf("%s\n", infoJson(port.device(), port.port(), libraryVersion(), readings, missing).c_str());
    return 0;
}

struct MonitorArgs {
    Target target;
    std::optional<std::int64_t> count;
    std::optional<double> seconds;
    std::string csvPath;
    bool append = false;
    bool json = false;
    std::string view = "auto";
};

// Every check that needs no device, before anything is opened or made.
void checkMonitorArgs(const MonitorArgs& args) {
    checkTarget(args.target);
    if (args.count && *args.count < 1) throw ToolError("--count must be 1 or more", 2);
    if (args.seconds && !(std::isfinite(*args.seconds) && *args.seconds > 0))
        throw ToolError("--seconds must be a number above 0", 2);
    if (args.append && args.csvPath.empty()) throw ToolError("--append needs --csv FILE", 2);
    if (args.append && args.csvPath == "-") throw ToolError("--append needs a file, not stdout", 2);
}

int runMonitor(const MonitorArgs& args, SignalWatch& signals) {
    checkMonitorArgs(args);
    CsvSink csv(args.csvPath, args.append);
    StreamOptions opt;
    if (args.count) opt.count = static_cast<std::uint64_t>(*args.count);
    opt.seconds = args.seconds;
    if (csv.enabled()) opt.csv = &csv;
    // With the rows on stdout, the rest goes to stderr; with --json, the
    // summary is the only thing on stdout.
    std::FILE* text = csv.toStdout() || args.json ? stderr : stdout;
    std::FILE* summaryTo = csv.toStdout() ? stderr : stdout;
    opt.mode = csv.toStdout() || args.json ? ViewMode::none : viewModeOf(args.view);
    opt.utf8 = terminalIsUtf8();
    StreamResult result;
    std::string device;
    try {
        ActivePort port(args.target, signals);
        device = port.device();
        std::fprintf(text, "monitoring %s at %d bit/s, protocol level %d%s\n", port.device().c_str(), port.baud(),
                     TKAmodel(port.port()), ::isatty(::fileno(text)) ? " (Ctrl-C stops)" : "");
        std::fflush(text);
        result = runStream(port, opt, signals);
        port.release();
    } catch (const ToolError& e) {
        // The rows read before the failure are kept.
        if (csv.rows() == 0 || csv.toStdout()) throw;
        csv.finish();
        throw ToolError(std::string(e.what()) + "; the " + std::to_string(csv.rows()) + " rows read are in " +
                            args.csvPath,
                        e.status());
    }
    csv.finish();
    if (args.json)
        std::fprintf(summaryTo, "%s\n",
                     summaryJson(device, result, csv.toStdout() ? std::string() : args.csvPath, csv.rows()).c_str());
    else if (!result.readerGone || summaryTo != stdout)
        printSummary(result, opt.utf8, summaryTo);
    return 0;
}

int runSend(const Target& target, const std::vector<std::string>& words, std::optional<std::int64_t> waitMs,
            SignalWatch& signals) {
    checkTarget(target);
    const std::vector<std::uint8_t> bytes = parseHexBytes(words);
    if (waitMs) {
        if (*waitMs < 0 || *waitMs > 60000) throw ToolError("--wait takes 0 to 60000 ms", 2);
        const std::int64_t baud = target.baud.value_or(38400);
        if (!rawSpeedSupported(baud))
            throw ToolError("--wait needs a standard line speed (1200 to 921600 bit/s), not " + std::to_string(baud),
                            2);
        Target t = target;
        char name[NXTKA_DEVICE_NAME_MAX] = {};
        if (!t.device) {
            if (NXgetDeviceName(portNumberOf(t), name, sizeof name) < 0)
                throw ToolError("the library has no device name for port " + std::to_string(portNumberOf(t)));
            t.device = name;
        }
        const auto back = exchangeRaw(*t.device, static_cast<std::int32_t>(baud), bytes, static_cast<int>(*waitMs));
        std::printf("sent %zu byte%s to %s: %s\n", bytes.size(), bytes.size() == 1 ? "" : "s", t.device->c_str(),
                    formatHex(bytes).c_str());
        if (back.empty())
            std::printf("no bytes came back within %lld ms\n", static_cast<long long>(*waitMs));
        else
            std::printf("received %zu byte%s within %lld ms: %s\n", back.size(), back.size() == 1 ? "" : "s",
                        static_cast<long long>(*waitMs), formatHex(back).c_str());
        return 0;
    }
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

int runGet(const Target& target, const std::string& name, bool json, SignalWatch& signals) {
    const Setting& s = settingNamed(name);
    if (s.get == nullptr) throw ToolError("setting '" + name + "' can only be set", 2);
    if (!s.getDeclared)
        throw ToolError("setting '" + name + "' needs " + s.getName + ", which this library does not have yet", 2);
    checkTarget(target);
    ActivePort port(target, signals);
    const Reading r = s.get(port.port());
    if (r.outcome != Outcome::ok)
        throw ToolError("reading " + name + " from " + port.device() + " failed (" + s.getName +
                        " returned -1: no answer from the amplifier?)");
    std::printf("%s\n", json ? readingJson(name, r).c_str() : r.text.c_str());
    return 0;
}

int runSet(const Target& target, const std::string& name, const std::string& value, SignalWatch& signals) {
    const Setting& s = settingNamed(name);
    if (s.set == nullptr) throw ToolError("setting '" + name + "' can only be read", 2);
    if (!s.setDeclared)
        throw ToolError("setting '" + name + "' needs " + s.setName + ", which this library does not have yet", 2);
    s.set(0, value, false);  // the value, before any device is opened
    checkTarget(target);
    ActivePort port(target, signals);
    if (s.set(port.port(), value, true) != Outcome::ok)
        throw ToolError("setting " + name + " on " + port.device() + " failed (" + s.setName + " returned -1)");
    std::printf("%s set to %s\n", name.c_str(), value.c_str());
    return 0;
}

int runPorts(bool all, bool json) {
    const std::vector<PortInfo> ports = listPorts(all);
    if (json) {
        std::printf("%s\n", portsJson(ports).c_str());
        return 0;
    }
    if (ports.empty()) {
        std::printf("no serial ports found%s\n", all ? "" : " (ports --all also shows pseudo-terminals)");
        return 0;
    }
    for (const PortInfo& p : ports) {
        std::string line = p.device + "  " + p.transport;
        if (!p.usbId.empty()) line += " " + p.usbId;
        if (!p.serial.empty()) line += "  serial " + p.serial;
        if (!p.description.empty()) line += "  " + p.description;
        if (!p.holder.empty()) line += "  [in use: " + p.holder + "]";
        std::printf("%s\n", line.c_str());
        if (!p.byId.empty()) std::printf("    %s\n", p.byId.c_str());
    }
    return 0;
}

int runList(bool all, bool json) {
    if (json) {
        std::printf("%s\n", listJson(all).c_str());
        return 0;
    }
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
    app.footer("Examples:\n"
               "  nxtka ports                                  serial ports, their USB ids and who holds them\n"
               "  nxtka info -d /dev/ttyUSB0                   what the amplifier says about itself\n"
               "  nxtka monitor -d /dev/ttyUSB0 -s 10 --csv run.csv   ten seconds of values into run.csv\n"
               "  nxtka -d /dev/ttyUSB0 get baud --json        one setting for a script\n"
               "  nxtka send -d /dev/ttyUSB0 --wait 200 3b     raw bytes and what came back\n"
               "Options before the command (-d, -p, -b, --json) apply to it.");
    Target before;
    addTarget(&app, before);
    bool jsonBefore = false;
    app.add_flag("--json", jsonBefore, "print JSON (info, get, list, ports, monitor's summary)");

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
    bool infoJson = false;
    CLI::App* infoCmd = app.add_subcommand("info", "activate and show what the library knows about the amplifier");
    addTarget(infoCmd, infoTarget);
    infoCmd->add_flag("--json", infoJson, "print JSON");

    MonitorArgs mon;
    CLI::App* monCmd = app.add_subcommand("monitor", "live values with status, rate, range and a sparkline");
    addTarget(monCmd, mon.target);
    monCmd->add_option("-n,--count", mon.count, "stop after this many values");
    monCmd->add_option("-s,--seconds", mon.seconds, "stop after this many seconds");
    monCmd->add_option("--csv", mon.csvPath,
                       "write sample,read_time_s,value,status rows to this file (-: to stdout); the file is made "
                       "once values arrive and replaces an earlier one only at the end");
    monCmd->add_flag("-a,--append", mon.append, "add the rows to the end of the --csv file");
    monCmd->add_flag("--json", mon.json, "print the summary as JSON (and no line per value)");
    monCmd->add_option("--view", mon.view, "auto, lines (one line per value) or live (a panel redrawn in place)")
        ->check(CLI::IsMember({"auto", "lines", "live"}))
        ->capture_default_str();

    Target sendTarget;
    std::vector<std::string> sendWords;
    CLI::App* sendCmd = app.add_subcommand("send", "send raw bytes (service use): 2a 03, 2a03, 0x2a");
    addTarget(sendCmd, sendTarget);
    sendCmd->add_option("bytes", sendWords, "bytes in hex")->required();
    std::optional<std::int64_t> sendWait;
    sendCmd->add_option("-w,--wait", sendWait,
                        "send directly, not through the library, and show the bytes that come back within MS "
                        "milliseconds");

    Target getTarget;
    std::string getName;
    CLI::App* getCmd = app.add_subcommand("get", "read a setting (nxtka list shows them)");
    getCmd->add_option("name", getName, "setting")->required();
    addTarget(getCmd, getTarget);
    bool getJson = false;
    getCmd->add_flag("--json", getJson, "print JSON: the plain value, its unit in a field of its own");

    Target setTarget;
    std::string setName, setValue;
    CLI::App* setCmd = app.add_subcommand("set", "change a setting (nxtka list shows them)");
    setCmd->add_option("name", setName, "setting")->required();
    setCmd->add_option("value", setValue, "new value")->required();
    addTarget(setCmd, setTarget);

    bool listAll = false;
    CLI::App* listCmd = app.add_subcommand("list", "the settings get and set know");
    listCmd->add_flag("-a,--all", listAll, "also those waiting for functions the library does not have yet");
    bool listJsonFlag = false;
    listCmd->add_flag("--json", listJsonFlag, "print JSON");

    Target adjustTarget;
    std::string adjustWhich;
    CLI::App* adjustCmd = app.add_subcommand("adjust", "run an adjustment procedure: zero, scale, offset or cal");
    adjustCmd->add_option("procedure", adjustWhich, "zero, scale, offset or cal")->required();
    addTarget(adjustCmd, adjustTarget);

    Target rangesTarget;
    CLI::App* rangesCmd = app.add_subcommand("ranges", "print the amplifier's range table");
    addTarget(rangesCmd, rangesTarget);

    CLI::App* memoryCmd = app.add_subcommand("memory", "the amplifier's 1024 bytes of memory");
    memoryCmd->require_subcommand(1);
    MemoryDump memDump;
    CLI::App* memDumpCmd = memoryCmd->add_subcommand("dump", "hex dump of the memory, like xxd");
    memDumpCmd->add_option("--from", memDump.from, "first address (0..1023)");
    memDumpCmd->add_option("--count", memDump.count, "number of bytes (1..1024)");
    memDumpCmd->add_option("--out", memDump.out, "write the dump to FILE");
    addTarget(memDumpCmd, memDump.target);
    MemoryDump memCheck;
    CLI::App* memCheckCmd =
        memoryCmd->add_subcommand("check", "each byte's status, read as a check; the faulty ones in words");
    memCheckCmd->add_option("--from", memCheck.from, "first address (0..1023)");
    memCheckCmd->add_option("--count", memCheck.count, "number of bytes (1..1024)");
    addTarget(memCheckCmd, memCheck.target);

    Target memWriteTarget;
    std::string memWriteAddress;
    std::vector<std::string> memWriteBytes;
    CLI::App* memWriteCmd = memoryCmd->add_subcommand("write", "write bytes from an address");
    memWriteCmd->add_option("address", memWriteAddress, "first address (0..1023)")->required();
    memWriteCmd->add_option("bytes", memWriteBytes, "bytes in hex: 0a0b or 0a 0b")->required();
    bool memWriteUnverified = false;
    memWriteCmd->add_flag("--no-verify", memWriteUnverified, "do not read the written bytes back");
    addTarget(memWriteCmd, memWriteTarget);

    LinearRun linear;
    CLI::App* linearCmd = app.add_subcommand("linear", "the linearization table as CSV: read, write or check");
    linearCmd->add_option("action", linear.action, "read, write or check")->required();
    linearCmd->add_option("--table", linear.table, "CSV file, rows input,output; the last row is the extra record")
        ->required();
    linearCmd->add_flag("--check", linear.checkOnly, "validate the table without writing it");
    linearCmd->add_flag("--sort", linear.sort, "sort the points by input first");
    bool linearUnverified = false;
    linearCmd->add_flag("--no-verify", linearUnverified, "write without reading the table's bytes back");
    addTarget(linearCmd, linear.target);

    bool portsAll = false, portsJson = false;
    CLI::App* portsCmd =
        app.add_subcommand("ports", "the serial ports: stable by-id names, USB vendor:product, serial, who holds them");
    portsCmd->add_flag("-a,--all", portsAll, "also pseudo-terminals whose other side a program holds (simulators)");
    portsCmd->add_flag("--json", portsJson, "print JSON");

    try {
        checkCommandWord(argc, argv);
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            const int code = app.exit(e);
            return code == 0 ? 0 : 2;
        }
        if (listCmd->parsed()) return runList(listAll, listJsonFlag || jsonBefore);
        if (portsCmd->parsed()) return runPorts(portsAll, portsJson || jsonBefore);
        SignalWatch signals;
#if NXTKA_CLI_DEMO
        if (demoCmd->parsed()) return runDemo(demo, signals);
#endif
        if (infoCmd->parsed()) return runInfo(merged(infoTarget, before), infoJson || jsonBefore, signals);
        if (monCmd->parsed()) {
            mon.target = merged(mon.target, before);
            mon.json = mon.json || jsonBefore;
            return runMonitor(mon, signals);
        }
        if (sendCmd->parsed()) return runSend(merged(sendTarget, before), sendWords, sendWait, signals);
        if (getCmd->parsed()) return runGet(merged(getTarget, before), getName, getJson || jsonBefore, signals);
        if (setCmd->parsed()) return runSet(merged(setTarget, before), setName, setValue, signals);
        if (adjustCmd->parsed()) {
            checkProcedureName(adjustWhich);
            return runAdjust(merged(adjustTarget, before), adjustWhich, signals);
        }
        if (rangesCmd->parsed()) return runRanges(merged(rangesTarget, before), signals);
        if (memDumpCmd->parsed()) {
            memDump.target = merged(memDump.target, before);
            return runMemoryDump(memDump, signals);
        }
        if (memCheckCmd->parsed()) {
            memCheck.target = merged(memCheck.target, before);
            return runMemoryCheck(memCheck, signals);
        }
        if (linearCmd->parsed()) {
            linear.target = merged(linear.target, before);
            linear.verify = !linearUnverified;
            return runLinear(linear, signals);
        }
        if (memWriteCmd->parsed())
            return runMemoryWrite(merged(memWriteTarget, before), memWriteAddress, memWriteBytes, !memWriteUnverified,
                                  signals);
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
