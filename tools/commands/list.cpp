// `nxtka list`: the settings that get and set know.
#include "json_out.h"
#include "settings.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace nxtka_cli {
namespace {

void addOptions(CLI::App&) {}

int run(Context& context) {
    if (context.json) {
        std::printf("%s\n", listJson().c_str());
        return 0;
    }
    const auto column = [](const char* fn) { return fn != nullptr ? fn : "-"; };
    std::size_t wName = 4, wGet = 3, wSet = 3;
    for (const Setting& s : settingsTable()) {
        wName = std::max(wName, std::strlen(s.name));
        wGet = std::max(wGet, std::strlen(column(s.getName)));
        wSet = std::max(wSet, std::strlen(column(s.setName)));
    }
    const int n = static_cast<int>(wName), g = static_cast<int>(wGet), t = static_cast<int>(wSet);
    std::printf("%-*s  %-*s  %-*s  %s\n", n, "NAME", g, "GET", t, "SET", "MEANING");
    for (const Setting& s : settingsTable())
        std::printf("%-*s  %-*s  %-*s  %s\n", n, s.name, g, column(s.getName), t, column(s.setName), s.help);
    return 0;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka list                                   setting names and the library functions behind them\n"
    "  nxtka list --json\n";

}  // namespace

extern const Subcommand kListCommand{"list", "the settings get and set know", false, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
