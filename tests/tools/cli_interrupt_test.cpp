// Ctrl-C against the built `nxtka` program: the first press stops the
// command at its next safe point (between bytes, after a step the amplifier
// must finish), the port is released, the command says how far it got and
// where to resume, and the status is 130. A monitor without a limit simply
// ends.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace nxtka_cli::test {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using std::chrono::milliseconds;

// 40 bytes from address 100, each written 50 ms late: a press after a
// second stops between two bytes; the bytes said to be written are exactly
// the ones the memory holds, and the command for the rest is given. A second
// press does not cut the stop short.
TEST(Interrupt, MemoryWriteStopsBetweenBytesAndSaysWhereToResume) {
    const std::string bytes(80, 'a');  // 40 bytes of 0xAA
    for (const milliseconds second : {milliseconds(-1), milliseconds(300)}) {
        SimProcess sim(kSim, {"--rate", "0", "--late", "WriteMemory:50"});
        const RunResult r = run({kTool, "memory", "write", "--device", sim.device(), "100", bytes},
                                std::chrono::seconds(20), "", milliseconds(1000), second);
        EXPECT_EQ(r.status, 130) << r.err;
        const std::string line = lastComplaint(r);
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(line, m,
                             std::regex("nxtka: interrupted: ([0-9]+) of 40 bytes written \\(100 to ([0-9]+)\\); "
                                        "the rest: memory write ([0-9]+) ((aa)+)")))
            << line;
        const int written = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), 100 + written - 1);
        EXPECT_EQ(std::stoi(m[3]), 100 + written);
        EXPECT_EQ(m[4].length(), static_cast<std::size_t>(2 * (40 - written)));

        // The port was released: the amplifier answers the next run, and
        // holds exactly the bytes said.
        const RunResult dump =
            tool({"memory", "dump", "--device", sim.device(), "--from", "100", "--count", std::to_string(written + 1)});
        ASSERT_EQ(dump.status, 0) << dump.err;
        std::string held;
        for (const std::string& l : lines(dump.out)) {
            const std::string hex = l.substr(10, 40);
            for (char c : hex)
                if (c != ' ') held += c;
        }
        EXPECT_EQ(held, std::string(2 * written, 'a') + "00") << dump.out;
    }
}

// An adjustment cannot be cut short: a press says what the tool waits for,
// and once the amplifier has come back the tool stops with 130.
TEST(Interrupt, AdjustmentEndsBeforeTheToolStops) {
    SimProcess sim(kSim, {"--rate", "0", "--adjust-ms", "3000"});
    const RunResult r =
        run({kTool, "adjust", "zero", "--device", sim.device()}, std::chrono::seconds(20), "", milliseconds(1500));
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("nxtka: stopping when the amplifier has ended the adjustment"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("zero adjustment done: the amplifier came back"), std::string::npos) << r.out;
    EXPECT_EQ(lastComplaint(r), "nxtka: interrupted: after the adjustment had ended");
}

// A linearization table is never left half written: the write ends, then
// the tool stops, and the table reads back whole.
TEST(Interrupt, LinearWriteFinishesTheTable) {
    SimProcess sim(kSim, {"--level", "5", "--options", "0x80", "--rate", "0", "--late", "WriteMemory:100"});
    const std::string table = tempPath("interrupted-table.csv");
    std::ofstream(table) << "0,0\n0.525,0.525\n0,-1\n";
    const RunResult r = run({kTool, "linear", "write", "--device", sim.device(), "--table", table},
                            std::chrono::seconds(30), "", milliseconds(1500));
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(r.out, "2 points written\n");
    EXPECT_EQ(lastComplaint(r), "nxtka: interrupted: after the table was written whole");
    const RunResult back = tool({"linear", "read", "--device", sim.device(), "--table", "-"});
    EXPECT_EQ(back.out, "input,output\n0,0\n0.525,0.525\n0,-1\n") << back.err;
    std::remove(table.c_str());
}

// A monitor without a limit ends on Ctrl-C and puts its file in place; one
// with a limit is cut short: the earlier file stays, the rows are beside it.
TEST(Interrupt, MonitorWithALimitIsCutShortWithoutOneEnds) {
    SimProcess sim(kSim, {"--rate", "100"});
    struct Row {
        std::vector<std::string> limit;
        int status;
        bool replaced;
    };
    const Row rows[] = {
        {{}, 0, true},
        {{"--count", "100000"}, 130, false},
        {{"--seconds", "600"}, 130, false},
    };
    for (const Row& row : rows) {
        const std::string csv = tempPath("interrupted.csv");
        std::ofstream(csv) << "old\n";
        std::vector<std::string> args{kTool, "monitor", "--device", sim.device(), "--csv", csv};
        args.insert(args.end(), row.limit.begin(), row.limit.end());
        const RunResult r = run(args, std::chrono::seconds(20), "status", milliseconds(300));
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE(r.out.find(" values in "), std::string::npos) << r.out;  // the summary
        const std::string kept = readFile(csv);
        EXPECT_EQ(kept.rfind("sample,read_time_s,value,status\n0,", 0) == 0, row.replaced) << kept;
        if (!row.replaced) {
            EXPECT_EQ(kept, "old\n");
            const std::string line = lastComplaint(r);
            const auto at = line.find(" rows read are in ");
            ASSERT_NE(at, std::string::npos) << line;
            const std::string partial = line.substr(at + 18);
            EXPECT_EQ(readFile(partial).rfind("sample,read_time_s,value,status\n0,", 0), 0u);
            std::remove(partial.c_str());
        }
        std::remove(csv.c_str());
    }
}

}  // namespace
}  // namespace nxtka_cli::test
