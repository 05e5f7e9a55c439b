// The built `nxtka` program, run as a person would: against the simulator
// program on a pseudo-terminal, and against devices it cannot use.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace nxtka_cli::test {
namespace {

TEST(Demo, StreamsTheSimulatedSineAndReleases) {
    const RunResult r = tool({"demo", "--seconds", "1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("protocol level  3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line speed      38400 bit/s"), std::string::npos) << r.out;
    unsigned pts = 0;
    EXPECT_NE(r.out.find("  device          /dev/pts/"), std::string::npos) << r.out;
    EXPECT_EQ(std::sscanf(r.out.c_str() + r.out.find("/dev/pts/"), "/dev/pts/%u (port 0)", &pts), 1) << r.out;
    const auto values = valueLines(r.out);
    ASSERT_GE(values.size(), 10u) << r.out;  // 50 values/s for a second
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end(),
                                              [](const ValueLine& a, const ValueLine& b) { return a.value < b.value; });
    EXPECT_LT(lo->value, hi->value - 0.1);  // a sine, not a constant
    EXPECT_GE(lo->value, -0.81);
    EXPECT_LE(hi->value, 0.81);
    for (std::size_t i = 1; i < values.size(); ++i) EXPECT_GE(values[i].time, values[i - 1].time);
    EXPECT_NE(r.out.find(std::to_string(values.size()) + " values in"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("port released"), std::string::npos);
}

TEST(Info, PrintsTheSimulatorsProtocolLevelAndLineSpeed) {
    SimProcess sim(kSim, {"--level", "4", "--baud", "115200"});
    const RunResult r = tool({"info", "--device", sim.device(), "--baud", "115200"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("protocol level  4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line speed      115200 bit/s"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(sim.device() + " (port 0)"), std::string::npos) << r.out;
}

TEST(Info, AnotherPortNumberMapsTheSameDevice) {
    SimProcess sim(kSim, {"--level", "2"});
    const RunResult r = tool({"info", "--device", sim.device(), "--port", "1023"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("protocol level  2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(port 1023)"), std::string::npos) << r.out;
}

TEST(Monitor, WritesExactlyTheCountedRowsToCsv) {
    SimProcess sim(kSim, {"--rate", "200", "--value", "0.25", "--status", "5"});
    const std::string csv = tempPath("out.csv");
    const RunResult r = tool({"monitor", "--device", sim.device(), "--count", "20", "--csv", csv});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::ifstream in(csv);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "sample,read_time_s,value,status");
    std::vector<std::string> rows;
    for (std::string l; std::getline(in, l);) rows.push_back(l);
    ASSERT_EQ(rows.size(), 20u);
    double last = -1.0;
    unsigned expectedSample = 0;
    for (const std::string& row : rows) {
        double t = 0, v = 0;
        unsigned s = 0, sample = 0;
        ASSERT_EQ(std::sscanf(row.c_str(), "%u,%lf,%lf,%u", &sample, &t, &v, &s), 4) << row;
        EXPECT_EQ(sample, expectedSample++);
        EXPECT_GE(t, last);
        last = t;
        EXPECT_NEAR(v, 0.25, 1e-6) << row;
        EXPECT_EQ(s, 5u) << row;
    }
    EXPECT_EQ(valueLines(r.out).size(), 20u) << r.out;
    EXPECT_NE(r.out.find("20 values in"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("status 0x05 x 20"), std::string::npos) << r.out;
    std::remove(csv.c_str());
}

TEST(Monitor, CsvToStdoutLeavesTheRestOnStderr) {
    SimProcess sim(kSim, {"--rate", "200"});
    const RunResult r = tool({"monitor", "--device", sim.device(), "--count", "5", "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 6u) << r.out;
    EXPECT_EQ(rows[0], "sample,read_time_s,value,status");
    EXPECT_NE(r.err.find("5 values in"), std::string::npos) << r.err;
}

// Ctrl-C ends the stream with a summary and a proper release: the release
// unlocks the amplifier's interface (63 twice), which an exit without
// TKArelease would not do.
TEST(Monitor, InterruptReleasesThePort) {
    const std::string log = tempPath("sim-int.log");
    {
        SimProcess sim(kSim, {"-v", "--rate", "100"}, log);
        // Interrupted once the stream runs (after the column header).
        const RunResult r = run({kTool, "monitor", "--device", sim.device()}, std::chrono::seconds(20), "status",
                                std::chrono::milliseconds(500));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.timedOut);
        EXPECT_NE(r.out.find("interrupted"), std::string::npos) << r.out;
        EXPECT_GT(valueLines(r.out).size(), 5u);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::size_t n = 0;
    for (std::size_t at = s.find("> 3F "); at != std::string::npos; at = s.find("> 3F ", at + 1)) ++n;
    EXPECT_EQ(n, 2u) << s;
    std::remove(log.c_str());
}

TEST(GetSet, TableSettingsReadAndSwitchTheStream) {
    SimProcess sim(kSim, {"--level", "4", "--rate", "100"});
    const RunResult model = tool({"get", "model", "--device", sim.device()});
    ASSERT_EQ(model.status, 0) << model.err;
    EXPECT_EQ(model.out, "4\n");
    const RunResult baud = tool({"get", "baud", "-d", sim.device()});
    EXPECT_EQ(baud.out, "38400 bit/s\n");

    ASSERT_EQ(tool({"set", "transmit", "off", "-d", sim.device()}).status, 0);
    const RunResult quiet = tool({"monitor", "-d", sim.device(), "--seconds", "0.6"});
    EXPECT_EQ(quiet.status, 3) << quiet.err;
    EXPECT_TRUE(valueLines(quiet.out).empty()) << quiet.out;
    EXPECT_NE(quiet.out.find("no values in"), std::string::npos) << quiet.out;

    ASSERT_EQ(tool({"set", "transmit", "on", "-d", sim.device()}).status, 0);
    const RunResult flowing = tool({"monitor", "-d", sim.device(), "--count", "3"});
    EXPECT_EQ(flowing.status, 0) << flowing.err;
    EXPECT_EQ(valueLines(flowing.out).size(), 3u) << flowing.out;
}

TEST(GetSet, NamesAndValuesAreCheckedBeforeTalking) {
    const RunResult unknown = tool({"get", "colour", "--device", "/dev/null"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(complaint(unknown).find("unknown setting 'colour'"), std::string::npos);
    const RunResult readOnly = tool({"set", "model", "3", "--port", "0"});
    EXPECT_NE(readOnly.status, 0);
    EXPECT_NE(complaint(readOnly).find("can only be read"), std::string::npos);
    const RunResult noTarget = tool({"get", "model"});
    EXPECT_EQ(noTarget.status, 2);
    EXPECT_NE(complaint(noTarget).find("--device PATH or --port N"), std::string::npos);
}

// get --list: every setting once, its unit and meaning on the first line,
// the values it takes (or "read only") on the second; the three readings of
// a frequency are told apart.
TEST(GetSet, ListShowsEverySettingWithUnitValuesAndMeaning) {
    const RunResult r = tool({"get", "--list"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto out = lines(r.out);
    const RunResult js = tool({"get", "--list", "--json"});
    ASSERT_EQ(js.status, 0) << js.err;
    std::map<std::string, std::vector<std::string>> shown;  // name: its two lines' words
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
        std::istringstream first(out[i]);
        std::string name, unit, meaning;
        first >> name >> unit;
        std::getline(first >> std::ws, meaning);
        std::string values = out[i + 1];
        values.erase(0, values.find_first_not_of(' '));
        EXPECT_EQ(shown.count(name), 0u) << name;
        shown[name] = {unit, meaning, values};
    }
    std::size_t settings = 0;
    for (const auto& row : nlohmann::json::parse(js.out)) {
        ++settings;
        const std::string name = row["name"];
        ASSERT_EQ(shown.count(name), 1u) << name;
        const auto& [unit, meaning, values] = std::tie(shown[name][0], shown[name][1], shown[name][2]);
        EXPECT_EQ(unit, row["unit"] == "" ? "-" : row["unit"].get<std::string>()) << name;
        EXPECT_FALSE(meaning.empty()) << name;
        EXPECT_EQ(values, row["set"].is_null() ? "read only" : "takes " + row["range"].get<std::string>()) << name;
    }
    EXPECT_EQ(shown.size(), settings);
    for (const char* hz : {"frequency", "sampling-frequency", "rate"}) EXPECT_EQ(shown[hz][0], "Hz") << hz;
    EXPECT_NE(shown["frequency"][1], shown["rate"][1]);
    EXPECT_NE(shown["frequency"][1], shown["sampling-frequency"][1]);
    EXPECT_NE(shown["rate"][1], shown["sampling-frequency"][1]);

    EXPECT_EQ(tool({"get"}).status, 2);
    EXPECT_EQ(tool({"get", "gain", "--list"}).status, 2);
}

TEST(Send, BytesReachTheAmplifier) {
    const std::string log = tempPath("sim.log");
    {
        SimProcess sim(kSim, {"-v", "--rate", "0"}, log);
        const RunResult r = tool({"send", "--device", sim.device(), "0x3b", "3B 3b"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("sent 3 bytes to " + sim.device() + ": 3B 3B 3B"), std::string::npos) << r.out;
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    // 59 ("send one value") three times, on top of the activation's commands.
    const std::string s = text.str();
    std::size_t n = 0;
    for (std::size_t at = s.find("> 3B "); at != std::string::npos; at = s.find("> 3B ", at + 1)) ++n;
    EXPECT_EQ(n, 3u) << s;
    std::remove(log.c_str());
}

TEST(Send, BadHexIsRefusedWithoutOpening) {
    const RunResult r = tool({"send", "--device", "/dev/ttyS999", "2a3"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(complaint(r).find("'2a3' has an odd number of hex digits"), std::string::npos);
}

TEST(Errors, PortAboveTheLibrarysRange) {
    for (const char* cmd : {"info", "monitor"}) {
        const RunResult r = tool({cmd, "--port", "5000"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(complaint(r).find("port 5000 is out of range"), std::string::npos) << r.err;
    }
}

TEST(Errors, PlainFileAndNonTerminal) {
    const RunResult file = tool({"info", "--device", "/etc/hostname"});
    EXPECT_NE(file.status, 0);
    EXPECT_NE(complaint(file).find("is not a character device"), std::string::npos);
    const RunResult null = tool({"info", "--device", "/dev/null"});
    EXPECT_NE(null.status, 0);
    EXPECT_NE(complaint(null).find("/dev/null is not a serial port"), std::string::npos);
}

TEST(Errors, PseudoTerminalWithNobodyAnswering) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = tool({"info", "--device", pty.name});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(complaint(r), std::string("nxtka: no answer from an amplifier on ") + pty.name +
                                " at 38400 bit/s (check that it is powered and connected, and its line speed: --baud)");
    EXPECT_LT(took, std::chrono::seconds(15));
}

TEST(Errors, DeviceHeldByAnotherProcess) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const int held = ::open(pty.name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const RunResult r = tool({"monitor", "--device", pty.name, "--count", "1"});
    ::close(held);
    EXPECT_NE(r.status, 0);
    const std::string line = complaint(r);
    EXPECT_NE(line.find(std::string(pty.name) + " is in use by another process (pid " + std::to_string(::getpid())),
              std::string::npos)
        << line;
}

TEST(Usage, VersionAndMissingSubcommand) {
    const RunResult v = tool({"--version"});
    EXPECT_EQ(v.status, 0);
    unsigned n[8] = {};
    EXPECT_EQ(std::sscanf(v.out.c_str(), "nxtka %u.%u.%u.%u (library %u.%u.%u.%u)", &n[0], &n[1], &n[2], &n[3], &n[4],
                          &n[5], &n[6], &n[7]),
              8)
        << v.out;
    EXPECT_EQ(tool({}).status, 2);
    EXPECT_EQ(tool({"frobnicate"}).status, 2);
}

}  // namespace
}  // namespace nxtka_cli::test
