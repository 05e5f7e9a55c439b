// `nxtka set NAME VALUE`: one setting, written through the library and read
// back, so that a value the amplifier rounds or clamps shows.
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

std::string name, value;

void addOptions(CLI::App& cmd) {
    cmd.add_option("name", name, "setting")->required();
    cmd.add_option("value", value, "new value")->required();
}

int run(Context& context) {
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
    "  nxtka set adapt-threshold 0.001 -d /dev/ttyUSB0   says what the amplifier holds when it rounds\n";

}  // namespace

extern const Subcommand kSetCommand{
    "set", "change a setting (get --list shows them all)", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
