// `nxtka get NAME`: one setting, read through the library; `get --list`:
// every setting with its unit, the values it takes and what it is.
#include "json_out.h"
#include "settings.h"
#include "settings_snapshot.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace nxtka_cli {
namespace {

std::string name;
bool list = false;

void addOptions(CLI::App& cmd) {
    cmd.add_option("name", name, "setting (get --list shows them), or all: every readable one");
    cmd.add_flag("-l,--list", list, "every setting with its unit, the values it takes and what it is");
}

// Two lines per setting: its name, unit and what it is; then the values it
// takes.
int printList(bool json) {
    if (json) {
        std::printf("%s\n", listJson().c_str());
        return kExitDone;
    }
    std::size_t wName = 0, wUnit = 1;
    for (const Setting& s : settingsTable()) {
        wName = std::max(wName, std::strlen(s.name));
        wUnit = std::max(wUnit, std::strlen(s.unit));
    }
    const int n = static_cast<int>(wName), u = static_cast<int>(wUnit);
    for (const Setting& s : settingsTable()) {
        std::printf("%-*s  %-*s  %s\n", n, s.name, u, *s.unit != '\0' ? s.unit : "-", s.help);
        std::printf("%-*s  %s%s\n", n + u + 2, "", s.set != nullptr ? "takes " : "", s.range);
    }
    return kExitDone;
}

// Every readable setting; with --json the settings file `set --from` takes.
int printAll(Context& context) {
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    std::size_t done = 0;
    const nlohmann::ordered_json snapshot = takeSnapshot(port.port(), [&] {
        context.stopHere(std::to_string(done++) + " settings read, none printed");
    });
    context.stopHere();
    if (context.json) {
        std::printf("%s\n", snapshot.dump(2).c_str());
        return kExitDone;
    }
    std::size_t width = 0;
    for (const auto& [key, value] : snapshot["settings"].items()) width = std::max(width, key.size());
    for (const auto& [key, value] : snapshot["settings"].items())
        std::printf("%-*s  %s\n", static_cast<int>(width), key.c_str(), value.get<std::string>().c_str());
    if (snapshot.contains("unreadable"))
        for (const auto& [key, value] : snapshot["unreadable"].items())
            std::printf("%-*s  (not read: %s)\n", static_cast<int>(width), key.c_str(),
                        value.get<std::string>().c_str());
    return kExitDone;
}

int run(Context& context) {
    if (list) {
        if (!name.empty()) throw ToolError("get takes a setting name or --list, not both", kExitUsage);
        return printList(context.json);
    }
    if (name.empty()) throw ToolError("get needs a setting name (get --list shows them)", kExitUsage);
    if (name == "all") return printAll(context);
    const Setting& s = settingNamed(name);
    if (s.get == nullptr) throw ToolError("setting '" + name + "' can only be set", kExitUsage);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const Reading r = readSetting(s, port.port());
    context.stopHere();
    if (r.outcome != Outcome::ok)
        throw ToolError("reading " + name + " from " + port.device() + " failed: " + r.failure);
    std::printf("%s\n", context.json ? readingJson(name, r).c_str() : r.text.c_str());
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka get --list                             every setting: unit, values, meaning\n"
    "  nxtka get gain -d /dev/ttyUSB0\n"
    "  nxtka get all -d /dev/ttyUSB0 --json > amp.json   every setting, for set --from\n"
    "  nxtka get baud -d /dev/ttyUSB0 --json        {\"setting\":\"baud\",\"unit\":\"bit/s\",\"value\":38400,...}\n";

}  // namespace

extern const Subcommand kGetCommand{
    "get", "read a setting (get --list shows them all)", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
