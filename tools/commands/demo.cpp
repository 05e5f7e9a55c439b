// `nxtka demo`: a simulated amplifier in this process, driven through the
// library like a real one: identification, then live values.
#include "demo_server.h"
#include "identity.h"
#include "stream_view.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace nxtka_cli {
namespace {

struct DemoArgs {
    double seconds = 5.0;
    double rate = 50.0;
    std::string view = "auto";
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("-s,--seconds", args.seconds, "how long to stream")->capture_default_str();
    cmd.add_option("--rate", args.rate, "values per second of the simulated amplifier")->capture_default_str();
    cmd.add_option("--view", args.view, "auto, lines (one line per value) or live (a panel redrawn in place)")
        ->check(CLI::IsMember({"auto", "lines", "live"}))
        ->capture_default_str();
}

int run(Context& context) {
    if (args.seconds <= 0) throw ToolError("--seconds must be above 0", kExitUsage);
    if (args.rate <= 0 || args.rate > 2000)
        throw ToolError("--rate must be above 0 and at most 2000 values/s", kExitUsage);
    SignalWatch& signals = context.signals();
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
        printIdentity(port, readIdentity(port, [] {}));
        std::printf("\nstreaming for %g s%s\n", args.seconds, ::isatty(STDOUT_FILENO) ? ", Ctrl-C stops" : "");
        StreamOptions opt;
        opt.seconds = args.seconds;
        opt.mode = viewModeNamed(args.view);
        opt.utf8 = utf8;
        signals.setStopPoint(nullptr);
        result = runStream(port, opt, signals);
        port.release();
    }
    server.stop();
    printSummary(result, utf8);
    std::printf("port released, simulator stopped\n");
    return result.interrupted ? kExitInterrupted : kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka demo                                   five seconds of a simulated sine, live\n"
    "  nxtka demo --seconds 30 --rate 200 --view lines\n";

}  // namespace

extern const Subcommand kDemoCommand{
    "demo", "stream live values from a simulated amplifier (no hardware needed)", false, false, kExamples, addOptions,
    run};

}  // namespace nxtka_cli
