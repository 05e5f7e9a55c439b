// The built `nxtka` program's answers: an exit status for each kind of
// outcome, the cause the library or the amplifier reported in every failure,
// and what the amplifier holds after a set.
#include "tool_run.h"

#include <gtest/gtest.h>

namespace nxtka_cli::test {
namespace {

std::vector<std::string> at(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.end(), {"--device", sim.device()});
    return args;
}

// 0 done, 1 the device or the amplifier failed, 2 a bad argument or a value
// the library refused, 3 nothing measured.
TEST(ExitStatus, EachOutcomeHasItsStatus) {
    SimProcess normal(kSim, {"--rate", "50"});
    SimProcess quiet(kSim, {"--rate", "0", "--silent", "GetControl"});
    struct Row {
        const SimProcess& sim;
        std::vector<std::string> args;
        int status;
    };
    const Row rows[] = {
        {normal, {"get", "model"}, 0},
        {normal, {"set", "gain", "3"}, 0},
        {quiet, {"get", "gain"}, 1},        // no answer
        {normal, {"set", "gain", "8"}, 2},  // the tool's own check
        {normal, {"set", "rate", "0"}, 2},  // refused by the library
        {normal, {"set", "analog-filter", "0.2"}, 2},
        {quiet, {"monitor", "--seconds", "0.5"}, 3},
        {quiet, {"monitor", "--seconds", "0.5", "--json"}, 3},
    };
    for (const Row& row : rows) {
        const RunResult r = tool(at(row.sim, row.args));
        EXPECT_EQ(r.status, row.status) << row.args[0] << " " << row.args[1] << ": " << r.err;
    }
}

// A refused value names the library's reason and what the setting takes.
TEST(RefusedValue, SaysWhyAndWhatTheSettingTakes) {
    SimProcess sim(kSim, {"--rate", "0"});
    struct Row {
        std::vector<std::string> args;
        std::string says;
    };
    const Row rows[] = {
        {{"set", "rate", "0"},
         "nxtka: rate 0 refused by the library (argument refused: frequency or factor the encoding cannot carry); "
         "rate takes 0.5 to 32767.5 in steps of 0.5 (linear protocol) or 76.3 to about 10090 (timer protocol)"},
        {{"set", "analog-filter", "0.2"},
         "nxtka: analog-filter 0.2 refused by the library (argument refused: analog filter outside 0.5..32767.5); "
         "analog-filter takes 0.5 to 32767.5 in steps of 0.5"},
        {{"set", "amp-baud", "1234"},
         "nxtka: amp-baud 1234 refused by the library (argument refused: line speed not in the table); amp-baud "
         "takes 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600, 250000, 625000, 1250000"},
    };
    for (const Row& row : rows) {
        const RunResult r = tool(at(sim, row.args));
        EXPECT_EQ(r.status, 2) << row.args[1];
        EXPECT_EQ(complaint(r), row.says);
    }
}

// A set reads the value back: one the amplifier keeps in coarser steps says
// what it now holds. The threshold 0.1 is 1597830 steps of 1.05 / 2^24, more
// than the widest mask keeps: 65535 steps, 0.0041014999...; the analog
// filter keeps steps of 0.5 (0.3 x 2 = 0.6 rounds to 1).
TEST(SetReadsBack, SaysWhatTheAmplifierNowHolds) {
    SimProcess sim(kSim, {"--rate", "0"});
    struct Row {
        std::vector<std::string> args;
        std::string says;
    };
    const Row rows[] = {
        {{"set", "adapt-threshold", "0.1"}, "adapt-threshold set to 0.1; the amplifier now holds 0.004101499915\n"},
        {{"set", "analog-filter", "0.3"}, "analog-filter set to 0.3; the amplifier now holds 0.5\n"},
        {{"set", "analog-filter", "2.5"}, "analog-filter set to 2.5\n"},
        {{"set", "gain", "0x5"}, "gain set to 0x5\n"},
        {{"set", "mode-linear", "yes"}, "mode-linear set to yes\n"},
    };
    for (const Row& row : rows) {
        const RunResult r = tool(at(sim, row.args));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.says);
    }
}

// Each failure names its cause: the library's reason, or the status the
// amplifier answered, or what it holds; "no answer" only when none came.
TEST(FailureCause, NamesWhatTheLibraryOrTheAmplifierReported) {
    SimProcess sim(kSim, {"--rate", "0", "--register", "GetAdaptFilterMask=0", "--silent", "GetControl"});
    struct Row {
        std::vector<std::string> args;
        std::string says;
    };
    const Row rows[] = {
        {{"get", "adapt-threshold"},
         "nxtka: reading adapt-threshold from " + sim.device() +
             " failed: adaptive-filter mask outside 0xFF0000..0xFFFF00: the amplifier answered 0"},
        // "S" at the linearization flag byte, which the amplifier does not take.
        {{"memory", "write", "248", "53"},
         "nxtka: writing memory at 248 failed: the amplifier refused it with status 30; 0 of 1 bytes written; the "
         "rest: memory write 248 53"},
        {{"get", "gain"},
         "nxtka: reading gain from " + sim.device() + " failed: no answer from the amplifier within the time-out"},
    };
    for (const Row& row : rows) {
        const RunResult r = tool(at(sim, row.args));
        EXPECT_EQ(r.status, 1) << row.args[1];
        EXPECT_EQ(complaint(r), row.says);
    }
}

// An adjustment whose first query stays unanswered (the amplifier is still
// busy) says so, after the 5 s the library waits for it.
TEST(FailureCause, AdjustmentWhoseMarkerStaysUnanswered) {
    SimProcess sim(kSim, {"--rate", "0", "--adjust-no-marker"});
    const RunResult r = tool(at(sim, {"adjust", "zero"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(complaint(r), "nxtka: zero adjustment on " + sim.device() +
                                " failed: no answer from the amplifier within the time-out: the marker that "
                                "confirms the drained stream");
}

}  // namespace
}  // namespace nxtka_cli::test
