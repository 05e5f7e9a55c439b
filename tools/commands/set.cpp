// `nxtka set NAME VALUE`: one setting, written through the library and read
// back, so that a value the amplifier rounds or clamps shows. `set --from
// FILE`: every writable setting of a settings file (`get all --json`).
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"
#include "settings_snapshot.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace nxtka_cli {
namespace {

std::string name, value, from;
bool force = false;
CLI::Option* valueOption = nullptr;

void addOptions(CLI::App& cmd) {
    cmd.add_option("name", name, "setting");
    valueOption = cmd.add_option("value", value, "new value");
    cmd.add_option("--from", from,
                   "write every writable setting of this file (from get all --json; -: standard input), the "
                   "settings lock and the line speed last, and read each back");
    cmd.add_flag("--force", force, "with --from: write a file of another amplifier model too");
}

nlohmann::json readSettingsFile() {
    std::stringstream text;
    if (from == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(from);
        if (!in) throw ToolError("cannot read " + from, kExitUsage);
        text << in.rdbuf();
    }
    try {
        return nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& e) {
        throw ToolError((from == "-" ? std::string("standard input") : from) + " is not JSON: " + e.what(),
                        kExitUsage);
    }
}

int restoreFrom(Context& context) {
    if (!name.empty()) throw ToolError("set takes NAME VALUE or --from FILE, not both", kExitUsage);
    const nlohmann::json snapshot = readSettingsFile();
    checkSnapshot(snapshot, nullptr, force);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const AmplifierIdentity identity = readAmplifierIdentity(port.port());
    checkSnapshot(snapshot, &identity, force);
    std::size_t written = 0;
    const std::vector<RestoreItem> items = restoreSnapshot(port.port(), snapshot, [&](const std::string& next) {
        context.stopHere(std::to_string(written++) + " settings written; " + next + " and those after it were not");
    });
    std::size_t bad = 0;
    for (const RestoreItem& item : items)
        if (item.outcome == RestoreItem::Outcome::failed || item.outcome == RestoreItem::Outcome::differs) ++bad;
    if (context.json) {
        nlohmann::ordered_json report;
        report["from"] = from;
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const RestoreItem& item : items) {
            nlohmann::ordered_json j{{"setting", item.name}, {"value", item.value}, {"outcome", outcomeWord(item.outcome)}};
            if (!item.held.empty()) j["held"] = item.held;
            if (!item.reason.empty()) j["reason"] = item.reason;
            list.push_back(std::move(j));
        }
        report["settings"] = std::move(list);
        report["not_held"] = bad;
        std::printf("%s\n", report.dump().c_str());
    } else {
        std::size_t width = 0;
        for (const RestoreItem& item : items) width = std::max(width, item.name.size());
        for (const RestoreItem& item : items) {
            std::string line = outcomeWord(item.outcome);
            if (!item.held.empty()) line += ": the amplifier holds " + item.held;
            if (!item.reason.empty()) line += ": " + item.reason;
            std::printf("%-*s  %-20s %s\n", static_cast<int>(width), item.name.c_str(), item.value.c_str(),
                        line.c_str());
        }
    }
    std::fflush(stdout);
    if (bad > 0)
        throw ToolError(std::to_string(bad) + " of the settings in " + from + " are not what the amplifier holds");
    return kExitDone;
}

int run(Context& context) {
    if (!from.empty()) return restoreFrom(context);
    if (force) throw ToolError("--force goes with --from", kExitUsage);
    if (name.empty() || valueOption->count() == 0)
        throw ToolError("set needs a setting name and a value, or --from FILE", kExitUsage);
    const Setting& s = settingNamed(name);
    if (s.set == nullptr) throw ToolError("setting '" + name + "' can only be read", kExitUsage);
    s.set(0, value, false);  // the value, before any device is opened
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    if (s.set(port.port(), value, true) != Outcome::ok) {
        const LibraryFailure why = lastLibraryFailure();
        if (why.code == NXTKA_FAILURE_ARGUMENT)
            throw ToolError(
                name + " " + value + " refused by the library (" + why.text + "); " + name + " takes " + s.range,
                kExitUsage);
        throw ToolError("setting " + name + " on " + port.device() + " failed: " +
                        (why.text.empty() ? std::string(s.setName) + " returned -1 without a reason" : why.text));
    }
    context.stopHere(name + " was sent " + value);
    if (s.get == nullptr || !s.readBack) {
        if (context.json)
            std::printf("%s\n", setJson(name, value, nullptr, false).c_str());
        else
            std::printf("%s set to %s\n", name.c_str(), value.c_str());
        return kExitDone;
    }
    const Reading back = readSetting(s, port.port());
    const bool holds = back.outcome == Outcome::ok && holdsValue(back, value);
    if (context.json)
        std::printf("%s\n", setJson(name, value, &back, holds).c_str());
    else if (back.outcome != Outcome::ok)
        std::printf("%s set to %s (reading it back failed: %s)\n", name.c_str(), value.c_str(), back.failure.c_str());
    else if (holds)
        std::printf("%s set to %s\n", name.c_str(), value.c_str());
    else
        std::printf("%s set to %s; the amplifier now holds %s\n", name.c_str(), value.c_str(), back.text.c_str());
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka set gain 3 -d /dev/ttyUSB0\n"
    "  nxtka set mode-linear off -d /dev/ttyUSB0\n"
    "  nxtka set --from amp.json -d /dev/ttyUSB0    every setting of `get all --json`, read back\n"
    "  nxtka set adapt-threshold 0.001 -d /dev/ttyUSB0   says what the amplifier holds when it rounds\n";

}  // namespace

extern const Subcommand kSetCommand{
    "set", "change a setting (get --list shows them all)", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
