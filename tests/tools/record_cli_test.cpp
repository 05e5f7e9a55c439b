// `nxtka record` end to end against simulator programs: four amplifiers for
// ten seconds, one of them gone mid-run; the losses of a ring that is too
// small, shown as gaps in the numbers.
#include "tool_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <regex>
#include <thread>

namespace nxtka_cli::test {
namespace {

using nlohmann::json;

struct CsvRow {
    std::string time;
    double seconds = 0;
    std::uint64_t sequence = 0;
    double value = 0, scaled = 0;
    std::string unit, status;
};

// The rows of a recorded CSV file, after its comment and column lines.
std::vector<CsvRow> rowsOf(const std::string& path) {
    const std::vector<std::string> all = lines(readFile(path));
    EXPECT_GE(all.size(), 2u) << path;
    if (all.size() < 2) return {};
    EXPECT_EQ(all[0].rfind("# nxtka record: ", 0), 0u) << all[0];
    EXPECT_EQ(all[1], "time_utc,seconds,sequence,value,scaled_value,unit,status");
    std::vector<CsvRow> rows;
    for (std::size_t i = 2; i < all.size(); ++i) {
        std::vector<std::string> f;
        std::stringstream in(all[i]);
        for (std::string cell; std::getline(in, cell, ',');) f.push_back(cell);
        EXPECT_EQ(f.size(), 7u) << all[i];
        if (f.size() != 7) continue;
        rows.push_back({f[0], std::stod(f[1]), std::stoull(f[2]), std::stod(f[3]), std::stod(f[4]), f[5], f[6]});
    }
    return rows;
}

// The one run directory under `out`.
std::string runDirectory(const Scratch& scratch, const std::string& out) {
    DIR* d = ::opendir(scratch.path(out).c_str());
    std::vector<std::string> runs;
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr)
        if (e->d_name[0] != '.') runs.emplace_back(e->d_name);
    if (d != nullptr) ::closedir(d);
    EXPECT_EQ(runs.size(), 1u);
    if (runs.empty()) return {};
    EXPECT_TRUE(std::regex_match(runs[0], std::regex(R"(\d{8}T\d{6}Z)"))) << runs[0];
    return scratch.path(out + "/" + runs[0]);
}

// Four amplifiers, each with its own scale on the simulator's constant
// 0.25; the fourth goes away after four seconds. The other three record the
// whole run, the fourth is recorded as failed, and the status is 1.
TEST(Record, FourAmplifiersOneGoneMidRun) {
    SimProcess mv(kSim, {"--rate", "100"}), force(kSim, {"--rate", "100"}), user(kSim, {"--rate", "100"}),
        victim(kSim, {"--rate", "100"});
    Scratch scratch;
    writeFile(scratch.path("bench.toml"), R"([run]
seconds = 10
out = "runs"

[[amplifier]]
name = "mv"
device = ")" + mv.device() + R"("
unit = "mV/V"
[amplifier.settings]
range = 2.5

[[amplifier]]
name = "force"
device = ")" + force.device() + R"("
unit = "sensor"
unit_name = "N"
[amplifier.settings]
range = 2.5
rated-output = 2
capacity = 500
gain = 3

[[amplifier]]
name = "user"
device = ")" + user.device() + R"("
scale = "0=0,1=500"
unit_name = "kg"

[[amplifier]]
name = "victim"
device = ")" + victim.device() + R"("
)");
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        victim.stop();
    });
    const RunResult r = run({"/bin/sh", "-c", "cd '" + scratch.path("") + "' && exec '" + kTool + "' record bench.toml"},
                            std::chrono::seconds(50));
    killer.join();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("nxtka: victim failed: reading values failed: "), std::string::npos) << r.err;
    EXPECT_NE(lastComplaint(r).find("1 of 4 amplifiers failed (victim); the run is in runs/"), std::string::npos)
        << r.err;

    const std::string dir = runDirectory(scratch, "runs");
    const json run = json::parse(readFile(dir + "/run.json"));
    EXPECT_EQ(run["format"], "nxtka-run 1");
    EXPECT_EQ(run["ended_by"], "time");
    ASSERT_EQ(run["amplifiers"].size(), 4u);

    // name, unit, scaled value of 0.25 worked out by hand
    struct Expect {
        const char* name;
        const char* unit;
        double scaled;
    };
    const Expect expect[] = {
        {"mv", "mV/V", 0.25 * 2.5},              // input range 2.5 mV/V
        {"force", "N", 0.25 * 2.5 / 2 * 500},    // 2 mV/V is 500 N
        {"user", "kg", 125.0},                   // 0=0, 1=500
        {"victim", "normalized", 0.25},
    };
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
    for (std::size_t i = 0; i < 4; ++i) {
        const json& a = run["amplifiers"][i];
        SCOPED_TRACE(expect[i].name);
        EXPECT_EQ(a["name"], expect[i].name);
        EXPECT_EQ(a["identity"]["serial"], "12345678");
        EXPECT_EQ(a["identity"]["level"], 3);
        EXPECT_EQ(a["scale"]["unit"], expect[i].unit);
        const std::vector<CsvRow> rows = rowsOf(dir + "/" + a["file"].get<std::string>());
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(a["values"].get<std::size_t>(), rows.size());
        EXPECT_EQ(a["first_sequence"], rows.front().sequence);
        EXPECT_EQ(a["last_sequence"], rows.back().sequence);
        EXPECT_EQ(a["dropped"], 0);
        EXPECT_EQ(a["missing"], 0);
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const CsvRow& row = rows[k];
            if (k > 0) {
                EXPECT_EQ(row.sequence, rows[k - 1].sequence + 1);
                EXPECT_GE(row.seconds, rows[k - 1].seconds);
                EXPECT_GE(row.time, rows[k - 1].time);
            }
            ASSERT_TRUE(std::regex_match(row.time, iso)) << row.time;
            ASSERT_NEAR(row.value, 0.25, 1e-6);
            ASSERT_NEAR(row.scaled, expect[i].scaled, 1e-5 * expect[i].scaled);
            ASSERT_EQ(row.unit, expect[i].unit);
            ASSERT_EQ(row.status, "ok");
        }
    }
    const json& victimJson = run["amplifiers"][3];
    EXPECT_FALSE(victimJson["failure"].is_null());
    EXPECT_EQ(victimJson["failed_reads"], 1);
    EXPECT_EQ(run["amplifiers"][1]["settings"]["gain"], "3");  // its settings as the run had them
    EXPECT_DOUBLE_EQ(run["amplifiers"][1]["scale"]["factor"].get<double>(), 625.0);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(run["amplifiers"][i]["failure"].is_null());
        EXPECT_EQ(run["amplifiers"][i]["failed_reads"], 0);
        // they went on after the fourth was gone
        EXPECT_GT(run["amplifiers"][i]["values"].get<std::uint64_t>(), victimJson["values"].get<std::uint64_t>());
    }
}

// A ring of one value on a fast unpaced line loses values; the CSV shows the
// gaps in the numbers and run.json counts them: every number missing before
// the first row and between rows was dropped by the full ring.
TEST(Record, RingOverflowShowsAsGaps) {
    SimProcess sim(kSim, {"--rate", "5000", "--baud", "0"});
    Scratch scratch;
    writeFile(scratch.path("fast.toml"), "[run]\nseconds = 2\nout = \"out\"\nring = 1\n[[amplifier]]\nname = "
                                         "\"fast\"\ndevice = \"" + sim.device() + "\"\n");
    const RunResult r = run({"/bin/sh", "-c", "cd '" + scratch.path("") + "' && exec '" + kTool +
                                                  "' record fast.toml --json"},
                            std::chrono::seconds(30));
    ASSERT_EQ(r.status, 0) << r.err;
    const json summary = json::parse(r.out);
    const json& a = summary["amplifiers"][0];
    const std::vector<CsvRow> rows = rowsOf(runDirectory(scratch, "out") + "/fast.csv");
    ASSERT_FALSE(rows.empty());
    std::uint64_t gaps = 0, missing = rows.front().sequence;
    for (std::size_t k = 1; k < rows.size(); ++k) {
        ASSERT_GT(rows[k].sequence, rows[k - 1].sequence);
        if (rows[k].sequence != rows[k - 1].sequence + 1) ++gaps;
        missing += rows[k].sequence - rows[k - 1].sequence - 1;
    }
    EXPECT_GT(gaps, 0u);
    EXPECT_EQ(a["missing"].get<std::uint64_t>() + a["first_sequence"].get<std::uint64_t>(), missing);
    // values dropped after the last read count too, so at least as many
    EXPECT_GE(a["dropped"].get<std::uint64_t>(), missing);
    EXPECT_EQ(a["values"].get<std::size_t>(), rows.size());
}

// Ctrl-C ends a run without a length: status 0, every file complete and in
// place, run.json saying how the run ended.
TEST(Record, CtrlCEndsARunWithItsFilesComplete) {
    SimProcess a(kSim, {"--rate", "100"}), b(kSim, {"--rate", "100"});
    Scratch scratch;
    writeFile(scratch.path("two.toml"), "[run]\nout = \"out\"\n[[amplifier]]\nname = \"a\"\ndevice = \"" +
                                            a.device() + "\"\n[[amplifier]]\nname = \"b\"\ndevice = \"" +
                                            b.device() + "\"\n");
    const RunResult r = run({"/bin/sh", "-c", "cd '" + scratch.path("") + "' && exec '" + kTool + "' record two.toml"},
                            std::chrono::seconds(30), "recording 2 amplifiers", std::chrono::milliseconds(2500));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string dir = runDirectory(scratch, "out");
    const json run = json::parse(readFile(dir + "/run.json"));
    EXPECT_EQ(run["ended_by"], "interrupt");
    for (const json& amp : run["amplifiers"]) {
        EXPECT_TRUE(amp["failure"].is_null());
        const std::string csv = readFile(dir + "/" + amp["file"].get<std::string>());
        ASSERT_FALSE(csv.empty());
        EXPECT_EQ(csv.back(), '\n');
        EXPECT_GT(amp["values"].get<std::size_t>(), 0u);
        EXPECT_EQ(rowsOf(dir + "/" + amp["file"].get<std::string>()).size(), amp["values"].get<std::size_t>());
    }
    DIR* d = ::opendir(dir.c_str());
    std::vector<std::string> names;
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr)
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    if (d != nullptr) ::closedir(d);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.csv", "b.csv", "run.json"}));  // no partial file left
}

// monitor --unit and --scale on the simulator's constant 0.25, with input
// range 2.5 mV/V, rated output 2 mV/V and capacity 250 set first: the
// scaled value in the CSV file and the scale in its first line.
TEST(Record, MonitorScalesFromTheAmplifiersFigures) {
    SimProcess sim(kSim, {"--rate", "100"});
    for (const auto& [name, value] : {std::pair{"range", "2.5"}, {"rated-output", "2"}, {"capacity", "250"}})
        ASSERT_EQ(tool({"set", name, value, "--device", sim.device()}).status, 0) << name;
    struct Row {
        std::vector<std::string> options;
        const char* firstLine;
        double scaled;  // of 0.25, by hand
        const char* unit;
    };
    const Row rows[] = {
        {{"--unit", "mV/V"}, "# scale mV/V: input range 2.5 mV/V", 0.625, "mV/V"},
        {{"--unit", "sensor", "--unit-name", "N"},
         "# scale N: capacity 250 N at rated output 2 mV/V, input range 2.5 mV/V", 78.125, "N"},
        {{"--scale", "0=10,1=110", "--unit-name", "kg"}, "# scale kg: two points 0=10,1=110", 35.0, "kg"},
    };
    Scratch scratch;
    for (const Row& row : rows) {
        std::vector<std::string> args{"monitor", "--device", sim.device(), "-n", "3", "--csv", scratch.path("m.csv")};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const RunResult r = tool(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> got = lines(readFile(scratch.path("m.csv")));
        ASSERT_EQ(got.size(), 5u);
        EXPECT_EQ(got[0], row.firstLine);
        EXPECT_EQ(got[1], "sample,read_time_s,value,status,scaled_value,unit");
        for (std::size_t i = 2; i < got.size(); ++i) {
            const std::string scaled = got[i].substr(got[i].find(",0,") + 3);
            EXPECT_NEAR(std::stod(scaled), row.scaled, 1e-6 * row.scaled) << got[i];  // 24-bit frames
            EXPECT_EQ(scaled.substr(scaled.find(',') + 1), row.unit);
        }
    }
    const RunResult refused = tool({"monitor", "--device", sim.device(), "--unit", "mV/V", "--unit-name", "N"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(complaint(refused).find("a unit name goes with the sensor unit"), std::string::npos);
}

}  // namespace
}  // namespace nxtka_cli::test
