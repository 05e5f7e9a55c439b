// `nxtka adjust zero|scale|offset|cal`: one of the amplifier's adjustment
// procedures, with a visible wait.
#include "cli_core.h"
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

namespace nxtka_cli {
namespace {

struct Procedure {
    const char* name;
    std::int32_t (*run)(std::uint32_t port);
    const char* what;
};

constexpr Procedure kProcedures[] = {
    {"zero", TKAsetZero, "zero adjustment"},
    {"scale", TKAsetScale, "scale adjustment"},
    {"offset", TKAsetOffset, "offset adjustment"},
    {"cal", TKAsetCal, "calibration"},
};

const Procedure& procedureNamed(const std::string& which) {
    for (const Procedure& p : kProcedures)
        if (which == p.name) return p;
    throw ToolError("adjust takes zero, scale, offset or cal, not '" + which + "'", kExitUsage);
}

struct ProcedureResult {
    std::int32_t result;
    std::string reason;
};

std::string which;

void addOptions(CLI::App& cmd) { cmd.add_option("procedure", which, "zero, scale, offset or cal")->required(); }

int run(Context& context) {
    const Procedure& p = procedureNamed(which);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    context.signals().setStopPoint("when the amplifier has ended the adjustment (it cannot be cut short; up to 10 s)");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::fprintf(stderr, "%s on %s: values stop while the amplifier works (up to about 10 s)\n", p.what,
                 port.device().c_str());
    const auto start = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, [&] {
        const std::int32_t r = p.run(port.port());
        return ProcedureResult{r, r < 0 ? lastLibraryFailure().text : std::string()};  // kept per thread
    });
    static const char kSpinner[] = "|/-\\";
    for (int tick = 0; result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++tick) {
        if (!terminal) continue;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "\r  %c waiting %.1f s ", kSpinner[tick % 4], s);
        std::fflush(stderr);
    }
    const ProcedureResult outcome = result.get();
    const std::int32_t r = outcome.result;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (terminal) std::fprintf(stderr, "\r%30s\r", "");
    // Without a reason of the library's, the marker the amplifier answers
    // before it adjusts stayed unanswered.
    if (r < 0)
        throw ToolError(std::string(p.what) + " on " + port.device() + " failed: " +
                        (outcome.reason.empty() ? "the amplifier did not answer the query that ends the values "
                                                  "measured before (5 s); it may still be busy, try again"
                                                : outcome.reason));
    if (context.json)
        std::printf("%s\n", adjustJson(p.name, r == 1, s).c_str());
    else if (r == 0)
        std::printf("%s: the amplifier did not come back within %.1f s\n", p.what, s);
    else
        std::printf("%s done: the amplifier came back after %.1f s\n", p.what, s);
    if (r == 0) return kExitFailed;
    context.stopHere("after the adjustment had ended");
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka adjust zero -d /dev/ttyUSB0            zero adjustment, with a visible wait\n"
    "  nxtka adjust cal -d /dev/ttyUSB0 --json\n";

}  // namespace

extern const Subcommand kAdjustCommand{
    "adjust", "run an adjustment procedure: zero, scale, offset or cal", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
