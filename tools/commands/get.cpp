// `nxtka get NAME`: one setting, read through the library.
#include "json_out.h"
#include "settings.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

std::string name;

void addOptions(CLI::App& cmd) { cmd.add_option("name", name, "setting")->required(); }

int run(Context& context) {
    const Setting& s = settingNamed(name);
    if (s.get == nullptr) throw ToolError("setting '" + name + "' can only be set", kExitUsage);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const Reading r = readSetting(s, port.port());
    context.stopHere();
    if (r.outcome != Outcome::ok) throw ToolError("reading " + name + " from " + port.device() + " failed: " + r.failure);
    std::printf("%s\n", context.json ? readingJson(name, r).c_str() : r.text.c_str());
    return kExitDone;
}

}  // namespace

extern const Subcommand kGetCommand{"get", "read a setting (nxtka list shows them)", true, true, addOptions, run};

}  // namespace nxtka_cli
