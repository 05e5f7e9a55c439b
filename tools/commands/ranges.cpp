// `nxtka ranges`: the amplifier's range table.
#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

void addOptions(CLI::App&) {}

int run(Context& context) {
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    int shown = 0;
    std::printf("entry   status  value\n");
    for (std::uint32_t first = 0; first < 16; ++first) {
        for (std::uint32_t second = 0; second < 16; ++second) {
            context.stopHere();
            double value = 0;
            const std::int32_t status = TKAgetRanges(port.port(), first, second, &value);
            if (status < 0)
                throw ToolError("reading range entry " + std::to_string(first) + "/" + std::to_string(second) +
                                " failed: " + lastLibraryFailure().text);
            if (status == 0 && value == -1.0) continue;  // no such entry
            if (status == 0 && value == 1.0) break;      // the group ends here
            std::printf("%2u/%-2u   %6d  %.2f\n", first, second, status, value);
            ++shown;
        }
    }
    if (shown == 0) std::printf("(the range table is empty)\n");
    return 0;
}

}  // namespace

extern const Subcommand kRangesCommand{"ranges", "print the amplifier's range table", true, false, addOptions, run};

}  // namespace nxtka_cli
