// `nxtka ranges`: the amplifier's range table.
#include "cli_core.h"
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

void addOptions(CLI::App&) {}

// Every entry the amplifier has, group by group up to its terminator.
std::vector<RangeEntry> readRanges(Context& context, std::uint32_t port) {
    std::vector<RangeEntry> entries;
    for (std::uint32_t first = 0; first < 16; ++first) {
        for (std::uint32_t second = 0; second < 16; ++second) {
            context.stopHere();
            double value = 0;
            const std::int32_t status = TKAgetRanges(port, first, second, &value);
            if (status < 0)
                throw ToolError("reading range entry " + std::to_string(first) + "/" + std::to_string(second) +
                                " failed: " + lastLibraryFailure().text);
            if (status == 0 && value == -1.0) continue;  // no such entry
            if (status == 0 && value == 1.0) break;      // the group ends here
            entries.push_back({first, second, status, value});
        }
    }
    return entries;
}

int run(Context& context) {
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const std::vector<RangeEntry> entries = readRanges(context, port.port());
    if (context.json) {
        std::printf("%s\n", rangesJson(entries).c_str());
        return kExitDone;
    }
    std::printf("entry   status  value\n");
    for (const RangeEntry& e : entries) std::printf("%2u/%-2u   %6d  %.2f\n", e.first, e.second, e.status, e.value);
    if (entries.empty()) std::printf("(the range table is empty)\n");
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka ranges -d /dev/ttyUSB0                 entry, status and value of the range table\n"
    "  nxtka ranges -d /dev/ttyUSB0 --json\n";

}  // namespace

extern const Subcommand kRangesCommand{"ranges", "print the amplifier's range table", true, true, kExamples, addOptions,
                                       run};

}  // namespace nxtka_cli
