// `nxtka set NAME VALUE`: one setting, written through the library.
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
    if (s.set == nullptr) throw ToolError("setting '" + name + "' can only be read", 2);
    s.set(0, value, false);  // the value, before any device is opened
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    if (s.set(port.port(), value, true) != Outcome::ok)
        throw ToolError("setting " + name + " on " + port.device() + " failed (" + s.setName + " returned -1)");
    std::printf("%s set to %s\n", name.c_str(), value.c_str());
    return 0;
}

}  // namespace

extern const Subcommand kSetCommand{"set", "change a setting (nxtka list shows them)", true, false, addOptions, run};

}  // namespace nxtka_cli
