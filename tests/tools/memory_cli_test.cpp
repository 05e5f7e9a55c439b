// `nxtka memory dump` and `nxtka memory write` run as a test bench uses them,
// against the simulator program with a known memory image.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace nxtka_cli::test {
namespace {

// "Hello!" at 14..19, everything else 0.
const std::vector<std::string> kImage = {"--memory", "14:48656c6c6f21"};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MemoryTool, DumpsAKnownImageLikeXxd) {
    SimProcess sim(kSim, kImage);
    struct Row {
        std::vector<std::string> range;
        std::string expected;
    };
    const Row rows[] = {
        {{"--from", "0", "--count", "32"},
         "00000000: 0000 0000 0000 0000 0000 0000 0000 4865  ..............He\n"
         "00000010: 6c6c 6f21 0000 0000 0000 0000 0000 0000  llo!............\n"},
        {{"--from", "16", "--count", "4"}, "00000010: 6c6c 6f21                                llo!\n"},
        {{"--from", "0x0e", "--count", "2"}, "0000000e: 4865                                     He\n"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"memory", "dump", "--device", sim.device()};
        args.insert(args.end(), row.range.begin(), row.range.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.expected) << row.range[1];
    }
    const std::string file = tempPath("dump.txt");
    const RunResult r = tool({"memory", "dump", "--device", sim.device(), "--from", "16", "--count", "4", "--out", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(file), rows[1].expected);
    std::remove(file.c_str());
}

TEST(MemoryTool, WrittenBytesDumpBack) {
    SimProcess sim(kSim, kImage);
    const RunResult w = tool({"memory", "write", "--device", sim.device(), "40", "0a0b", "ff"});
    EXPECT_EQ(w.status, 0) << w.err;
    const RunResult r = tool({"memory", "dump", "--device", sim.device(), "--from", "32", "--count", "16"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "00000020: 0000 0000 0000 0000 0a0b ff00 0000 0000  ................\n");
}

// Bad arguments are found before any device is opened: the device named here
// does not exist, and the status is 2 all the same.
TEST(MemoryTool, ArgumentErrorsExitTwo) {
    const std::vector<std::string> dev{"--device", "/dev/nxtka-mistyped"};
    const std::vector<std::vector<std::string>> rows = {
        {"memory", "dump", "--from", "1024"},
        {"memory", "dump", "--count", "0"},
        {"memory", "dump", "--from", "1020", "--count", "8"},
        {"memory", "write", "1023", "0102"},
        {"memory", "write", "1024", "00"},
        {"memory", "write", "0", "zz"},
        {"memory"},
    };
    for (std::vector<std::string> args : rows) {
        if (args.size() > 1) args.insert(args.end(), dev.begin(), dev.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(MemoryTool, FailedWriteSaysWhyInWords) {
    SimProcess sim(kSim, {"--silent", "WriteMemory"});
    const RunResult r = tool({"memory", "write", "--device", sim.device(), "40", "0a"});
    EXPECT_EQ(r.status, 1);
    const std::string line = complaint(r);
    EXPECT_NE(line.find("writing memory at 40"), std::string::npos) << line;
    EXPECT_NE(line.find("no answer"), std::string::npos) << line;
}

}  // namespace
}  // namespace nxtka_cli::test
