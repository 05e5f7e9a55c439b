// `nxtka memory dump`, `nxtka memory write` and `nxtka linear` run as a test bench uses them,
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

// Every byte's status: all good, or each faulty byte in words (a silent
// amplifier: no answer for any byte of the word, after its retries).
TEST(MemoryTool, CheckListsTheFaultyBytes) {
    SimProcess good(kSim, {});
    const RunResult ok = tool({"memory", "check", "--device", good.device(), "--from", "16", "--count", "8"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(lines(ok.out), (std::vector<std::string>{"8 of 8 bytes from 16 checked without fault"}));

    SimProcess silent(kSim, {"--silent", "ReadMemory"});
    const RunResult bad = tool({"memory", "check", "--device", silent.device(), "--from", "8", "--count", "2"});
    EXPECT_EQ(bad.status, 1) << bad.err;
    const auto out = lines(bad.out);
    ASSERT_EQ(out.size(), 3u) << bad.out;
    EXPECT_EQ(out[0], "   8  status 255: no answer, or an address the amplifier does not have");
    EXPECT_EQ(out[2], "0 of 2 bytes from 8 checked without fault");
}

// ---------------------------------------------------------------- linearization

// An amplifier of level 5 with linearization (option bit 0x80), its tables in
// the layout without a header, range 1: the extra record is (0, -1).
const std::vector<std::string> kLinearAmp = {"--level", "5", "--options", "0x80"};

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::vector<std::pair<double, double>> csvRows(const std::string& text) {
    std::vector<std::pair<double, double>> rows;
    for (const std::string& l : lines(text)) {
        double x = 0, y = 0;
        if (std::sscanf(l.c_str(), "%lf,%lf", &x, &y) == 2) rows.emplace_back(x, y);
    }
    return rows;
}

TEST(LinearTool, WrittenTableReadsBack) {
    SimProcess sim(kSim, kLinearAmp);
    const std::string in = tempPath("table.csv"), out = tempPath("back.csv");
    writeFile(in, "input,output\n0,0\n0.5,0.25\n1,1\n0,-1\n");

    // --check validates and writes nothing: the amplifier still holds no points.
    const RunResult c = tool({"linear", "write", "--check", "--device", sim.device(), "--table", in});
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(tool({"linear", "read", "--device", sim.device(), "--table", out}).status, 0);
    EXPECT_EQ(csvRows(readFile(out)).size(), 1u) << readFile(out);

    const RunResult w = tool({"linear", "write", "--device", sim.device(), "--table", in});
    EXPECT_EQ(w.status, 0) << w.err;
    const RunResult r = tool({"linear", "read", "--device", sim.device(), "--table", out});
    EXPECT_EQ(r.status, 0) << r.err;
    // The 16-bit point format keeps a step of 3.204345703125e-5 of the scale.
    const std::vector<std::pair<double, double>> expected = {{0, 0}, {0.5, 0.25}, {1, 1}, {0, -1}};
    const auto back = csvRows(readFile(out));
    ASSERT_EQ(back.size(), expected.size()) << readFile(out);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_NEAR(back[i].first, expected[i].first, 3.3e-5) << i;
        EXPECT_NEAR(back[i].second, expected[i].second, 3.3e-5) << i;
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// The error code comes in words with the index of the offending point.
TEST(LinearTool, ErrorsNameTheirPoint) {
    SimProcess sim(kSim, kLinearAmp);
    struct Row {
        std::string table;
        std::string words;
    };
    const Row rows[] = {
        {"0,0\n0.5,0.6\n0.4,0.7\n0,-1\n", "0x1500: input not increasing between point 1 and 2"},
        {"0,0\n0.5,1.2\n1,1.3\n0,-1\n", "0x1200: output cannot be encoded at point 1"},
        {"0,0\n0.5,0.5\n0.7,0.4\n0,-1\n", "0x1600: output decreasing between point 1 and 2"},
        {"0,0\n1,1\n0,-2\n", "0x2C00"},
    };
    const std::string in = tempPath("bad.csv");
    for (const Row& row : rows) {
        writeFile(in, row.table);
        for (const char* action : {"write", "check"}) {
            const RunResult r = tool({"linear", action, "--device", sim.device(), "--table", in});
            EXPECT_EQ(r.status, 1) << action << " " << row.words;
            EXPECT_NE(complaint(r).find(row.words), std::string::npos) << r.err;
        }
    }
    // An amplifier without the linearization option: the refusal names the bit.
    SimProcess plain(kSim, {"--options", "0"});
    writeFile(in, "0,0\n1,1\n0,-1\n");
    const RunResult r = tool({"linear", "write", "--device", plain.device(), "--table", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(complaint(r).find("0x400: the amplifier does not offer linearization (option bit 7, 0x80, clear"),
              std::string::npos)
        << r.err;
    std::remove(in.c_str());
}

TEST(LinearTool, ArgumentErrorsExitTwo) {
    const std::string in = tempPath("args.csv");
    writeFile(in, "0,0\n1,1\nzero,-1\n");
    const std::vector<std::vector<std::string>> rows = {
        {"linear", "frob", "--table", in},
        {"linear", "write", "--table", tempPath("missing.csv")},
        {"linear", "write", "--table", in},
        {"linear", "read"},
    };
    for (std::vector<std::string> args : rows) {
        args.insert(args.end(), {"--device", "/dev/nxtka-mistyped"});
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, 2) << args[1] << ": " << r.err;
    }
    std::remove(in.c_str());
}

// A data byte changed on the line (bit 0 of what is written to one address)
// is stored and acknowledged like any other: the writes read back by
// default and name the byte; --no-verify skips that.
TEST(MemoryTool, WritesReadBackUnlessTold) {
    const std::string table = tempPath("flip.csv");
    writeFile(table, "0,0\n0.5,0.25\n1,1\n0,-1\n");
    struct Row {
        std::vector<std::string> sim;
        std::vector<std::string> args;
        int status;
        std::string words;
    };
    // point 1 of the table: x = 0.5 / 3.204345703125e-5 + 32768 = 48371.8 -> 0xBCF4, at 4 and 5
    std::vector<std::string> flippedTable = kLinearAmp;
    flippedTable.insert(flippedTable.end(), {"--flip-written", "4"});
    const Row rows[] = {
        {{"--flip-written", "41"}, {"memory", "write", "40", "0a0b"}, 1, "address 41 holds 0x0a, 0x0b was written"},
        {{"--flip-written", "41"}, {"memory", "write", "--no-verify", "40", "0a0b"}, 0, ""},
        {flippedTable, {"linear", "write", "--table", table}, 1,
         "0x2000: a memory transfer moved fewer bytes than asked (the amplifier answered: address 4 holds 0xBD, "
         "0xBC was written)"},
        {flippedTable, {"linear", "write", "--no-verify", "--table", table}, 0, ""},
    };
    for (const Row& row : rows) {
        SimProcess sim(kSim, row.sim);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--device", sim.device()});
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, row.status) << args[1] << " " << args[2] << ": " << r.err;
        if (row.status != 0) {
            EXPECT_NE(complaint(r).find(row.words), std::string::npos) << r.err;
        }
    }
    std::remove(table.c_str());
}

}  // namespace
}  // namespace nxtka_cli::test

namespace nxtka_cli::test {
namespace {

// A dump of one amplifier written onto a second one with --in (and raw bytes
// with --binary from standard input) dumps back the same there.
TEST(MemoryTool, DumpRestoredOntoASecondAmplifier) {
    SimProcess source(kSim, {"--memory", "14:48656c6c6f21", "--memory", "40:00ff7f80"});
    SimProcess target(kSim, {});
    Scratch scratch;
    const std::string dumped = scratch.path("mem.txt");
    ASSERT_EQ(tool({"memory", "dump", "--device", source.device(), "--from", "8", "--count", "40", "--out", dumped})
                  .status,
              0);
    const RunResult restored = tool({"memory", "write", "--device", target.device(), "--in", dumped});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(restored.out, "40 bytes written from 8, read back the same\n");
    const RunResult back = tool({"memory", "dump", "--device", target.device(), "--from", "0", "--count", "64"});
    EXPECT_EQ(back.out,
              "00000000: 0000 0000 0000 0000 0000 0000 0000 4865  ..............He\n"
              "00000010: 6c6c 6f21 0000 0000 0000 0000 0000 0000  llo!............\n"
              "00000020: 0000 0000 0000 0000 00ff 7f80 0000 0000  ................\n"
              "00000030: 0000 0000 0000 0000 0000 0000 0000 0000  ................\n");

    const RunResult raw = toolIn(scratch.path(""), {"memory", "write", "--device", target.device(), "--in", "-",
                                                    "--binary", "0x30"},
                                 "OK");
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(tool({"memory", "dump", "--device", target.device(), "--from", "0x30", "--count", "2"}).out,
              "00000030: 4f4b                                     OK\n");

    writeFile(scratch.path("bad.txt"), "00000000: 0102\n00000004: 0304\n");
    const RunResult gap = tool({"memory", "write", "--device", target.device(), "--in", scratch.path("bad.txt")});
    EXPECT_EQ(gap.status, 2);
    EXPECT_NE(complaint(gap).find("bad.txt line 2: address 4 does not follow 1"), std::string::npos);
}

}  // namespace
}  // namespace nxtka_cli::test
