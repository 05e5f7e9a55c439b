// The nxtka-sim program as a test bench uses it: faults from the command line,
// a device file and its saving, a recorded run played back, argument errors
// and their messages, the command list, and a --symlink that belongs to one
// running simulator. The library talks to
// it over its pseudo-terminal.
#include "tools/subprocess.h"

#include "nxtka.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using nxtka_cli::test::run;
using nxtka_cli::test::SimProcess;

constexpr unsigned kPort = 61;

class SimProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nxtka-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        TKArelease(kPort);
        NXsetDeviceName(kPort, nullptr);
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string file(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static int activate(const SimProcess& sim) {
        NXsetDeviceName(kPort, sim.device().c_str());
        return TKAactivate(kPort, 1000);
    }
    static int32_t failure() {
        char text[128];
        return NXgetLastFailure(text, sizeof text);
    }
    std::string dir_;
};

TEST_F(SimProgram, DeviceFileSetsTheAmplifierAndSaveConfigKeepsWhatTheHostChanged) {
    const std::string ini = file("amp.ini",
                                 "# a bench amplifier\n"
                                 "level = 2\n"
                                 "firmware = 0x0D21\n"
                                 "mode = 5\n"
                                 "register = [\"GetChannel=1\"]\n"
                                 "memory = [\"16:0A0B0C\"]\n"
                                 "range = [\"3=0x1000123\"]\n"
                                 "late = [\"GetSerialNo:20\"]\n");
    const std::string saved = dir_ + "/saved.ini";
    {
        SimProcess sim(NXTKA_SIM_PATH, {"--config", ini, "--save-config", saved, "--rate", "0"});
        ASSERT_EQ(activate(sim), 0);
        EXPECT_EQ(TKAmodel(kPort), 2);
        EXPECT_EQ(TKAfirmwareVersion(kPort), 0x0D21);
        EXPECT_EQ(TKAgetMode(kPort), 5);
        EXPECT_EQ(TKAsetMode(kPort, 0x41), 0);
        EXPECT_EQ(TKAgetMode(kPort), 0x41);  // answered after the setting, so the setting arrived
        TKArelease(kPort);
    }
    const std::string text = read(saved);
    EXPECT_NE(text.find("mode = 65\n"), std::string::npos) << text;
    EXPECT_NE(text.find("level = 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("firmware = 3361\n"), std::string::npos) << text;
    EXPECT_NE(text.find("register = [\"GetChannel=0x1\"]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("memory = [\"16:0A0B0C\"]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("range = [\"3=0x1000123\"]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("late = [\"GetSerialNo:20\"]\n"), std::string::npos) << text;

    SimProcess again(NXTKA_SIM_PATH, {"--config", saved});
    ASSERT_EQ(activate(again), 0);
    EXPECT_EQ(TKAgetMode(kPort), 0x41);
    EXPECT_EQ(TKAfirmwareVersion(kPort), 0x0D21);
}

TEST_F(SimProgram, FaultsFromTheCommandLineReachTheLibrary) {
    // GetMode never answered, GetEquipment answered after the library's 1 s,
    // and the line hung up 4 s after the start, once both have timed out
    // (GetEquipment first waits 250 ms for GetMode's late answer).
    SimProcess sim(NXTKA_SIM_PATH, {"--silent", "GetMode", "--late", "41:1500", "--hang-up-after", "4", "--rate",
                                    "0", "--split-answers"});
    ASSERT_EQ(activate(sim), 0);  // split answers are put together again
    EXPECT_EQ(TKAfirmwareVersion(kPort), 0x0C10);
    EXPECT_EQ(TKAgetMode(kPort), -1);
    EXPECT_EQ(failure(), NXTKA_FAILURE_TIMEOUT);
    EXPECT_EQ(TKAgetEquipment(kPort), -1);
    EXPECT_EQ(failure(), NXTKA_FAILURE_TIMEOUT);
    // After the hang-up the next command fails on the line: its write, or the
    // read the receive thread was in, whichever the system reports first.
    int32_t why = NXTKA_FAILURE_NONE;
    for (int i = 0; i < 100 && why == NXTKA_FAILURE_NONE; ++i) {
        if (TKAfirmwareVersion(kPort) == -1) why = failure();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(why == NXTKA_FAILURE_WRITE || why == NXTKA_FAILURE_DEVICE) << "reason " << why;
}

TEST_F(SimProgram, GarbageBetweenFramesAndPausedValues) {
    {
        SimProcess sim(NXTKA_SIM_PATH, {"--garbage-every", "1", "--rate", "100", "--value", "0.375"});
        ASSERT_EQ(activate(sim), 0);
        int good = 0;
        for (int i = 0; i < 300 && good < 5; ++i) {
            double v = 0;
            if (TKAread(kPort, &v) == 1) {
                EXPECT_NEAR(v, 0.375, 1e-4);
                ++good;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_EQ(good, 5);
        TKArelease(kPort);
    }
    // Values paused for the whole test: commands are still answered.
    SimProcess paused(NXTKA_SIM_PATH, {"--pause-values", "0:600", "--rate", "100"});
    ASSERT_EQ(activate(paused), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(TKAfirmwareVersion(kPort), 0x0C10);
    EXPECT_EQ(TKAreceived(kPort), 0);
}

TEST_F(SimProgram, RecordedValuesArePlayedBackInALoop) {
    const std::string csv = file("run.csv",
                                 "index,time_s,value,status\n"
                                 "0,0.000,0.125,0\n"
                                 "1,0.010,-0.5,0\n"
                                 "2,0.020,0.75,0\n");
    SimProcess sim(NXTKA_SIM_PATH, {"--replay", csv, "--rate", "100"});
    ASSERT_EQ(activate(sim), 0);
    std::vector<double> got;
    for (int i = 0; i < 300 && got.size() < 7; ++i) {
        double v = 0;
        if (TKAread(kPort, &v) == 1) {
            got.push_back(v);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_EQ(got.size(), 7u);
    const double recorded[] = {0.125, -0.5, 0.75};
    std::size_t first = 0;
    while (first < 3 && std::fabs(got[0] - recorded[first]) > 1e-4) ++first;
    ASSERT_LT(first, 3u) << got[0] << " is none of the recorded values";
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], recorded[(first + i) % 3], 1e-4) << i;
}

TEST_F(SimProgram, BadArgumentsExitWithStatusTwo) {
    const std::string csvWithText = file("bad.csv", "time_s,value\n0.0,abc\n");
    const std::string iniWithBadKey = file("bad.ini", "no-such-option = 3\n");
    const std::vector<std::vector<std::string>> cases = {
        {"--level", "x"},
        {"--bogus"},
        {"--silent", "NoSuchCommand"},
        {"--silent", "256"},
        {"--late", "GetMode"},
        {"--late", "GetMode:-5"},
        {"--memory", "1023:0A0B"},
        {"--memory", "0:ABC"},
        {"--register", "GetMode"},
        {"--pause-values", "3"},
        {"--hang-up-after", "nan"},
        {"--replay", dir_ + "/missing.csv"},
        {"--replay", csvWithText},
        {"--config", dir_ + "/missing.ini"},
        {"--config", iniWithBadKey},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{NXTKA_SIM_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = run(argv, std::chrono::seconds(10));
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "") << ": " << r.err;
        EXPECT_EQ(r.out.find("ready"), std::string::npos) << args[0];
    }
    const auto v = run({NXTKA_SIM_PATH, "--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("nxtka-sim ", 0), 0u) << v.out;
}

// Rows of the command table as the protocol gives them: code, parameter
// bytes, answer bytes; codes 71 to 127, 153 and 169 are undefined, so 111
// codes are listed.
TEST_F(SimProgram, ListsItsCommandsAndPointsToTheListForAnUnknownName) {
    const auto r = run({NXTKA_SIM_PATH, "--list-commands"});
    ASSERT_EQ(r.status, 0) << r.err;
    struct Row {
        int params, answer;
        std::string name;
    };
    std::map<int, Row> rows;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);  // heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int code = -1;
        Row row;
        ASSERT_TRUE(fields >> code >> row.name >> row.params >> row.answer) << line;
        rows[code] = row;
    }
    EXPECT_EQ(rows.size(), 111u);
    const std::vector<std::pair<int, std::pair<int, int>>> byHand = {
        {31, {0, 8}}, {42, {1, 3}}, {56, {1, 5}}, {57, {3, 1}}, {138, {3, 0}}, {139, {0, 3}}, {154, {3, 0}}};
    for (const auto& [code, bytes] : byHand) {
        ASSERT_EQ(rows.count(code), 1u) << code;
        EXPECT_EQ(rows[code].params, bytes.first) << code;
        EXPECT_EQ(rows[code].answer, bytes.second) << code;
    }
    EXPECT_EQ(rows[42].name, "Identify");
    for (int undefined : {71, 100, 127, 153, 169}) EXPECT_EQ(rows.count(undefined), 0u) << undefined;

    const auto late = run({NXTKA_SIM_PATH, "--late", "GetGain:1500"});
    EXPECT_EQ(late.status, 2);
    EXPECT_NE(late.err.find("'GetGain'"), std::string::npos) << late.err;
    EXPECT_NE(late.err.find("nxtka-sim --list-commands"), std::string::npos) << late.err;
}

// A device file the parser refuses is named with the line that is wrong.
TEST_F(SimProgram, DeviceFileErrorsNameTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"# bench\nlevel = 2\n[amplifier]\n\"++\" = 3\n",
         "amp0.ini:4: 'amplifier.++' is not a setting"},
        {"level = 2\nfirmware = 0x0D21\nno-such-option = 3\n", "amp1.ini:3: 'no-such-option' is not a setting"},
        {"register = [\"GetMode=1\",\n  \"GetChannel=1\"]\n[amplifier]\nlevel = 2\n",
         "amp2.ini:4: 'level' stands in section [amplifier]"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string ini = file("amp" + std::to_string(i) + ".ini", cases[i].first);
        const auto r = run({NXTKA_SIM_PATH, "--config", ini}, std::chrono::seconds(10));
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(dir_ + "/" + cases[i].second), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("ready"), std::string::npos);
    }
}

// The hang-up fault ends the program: it says so and takes its link along.
TEST_F(SimProgram, HangUpAfterSaysSoAndExits) {
    const std::string link = dir_ + "/amp";
    const auto r = run({NXTKA_SIM_PATH, "--hang-up-after", "0.2", "--rate", "0", "--symlink", link},
                       std::chrono::seconds(10));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ready"), std::string::npos);
    EXPECT_NE(r.err.find("hung up 0.2 s after the start"), std::string::npos) << r.err;
    EXPECT_NE(::access(link.c_str(), F_OK), 0) << "the link is gone";
}

TEST_F(SimProgram, SymlinkOfARunningSimulatorIsNotTakenOver) {
    const std::string link = dir_ + "/amp0";
    SimProcess first(NXTKA_SIM_PATH, {"--symlink", link});
    const auto second = run({NXTKA_SIM_PATH, "--symlink", link}, std::chrono::seconds(10));
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.err.find("belongs to another running simulator"), std::string::npos) << second.err;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), first.device()) << "the second simulator moved the link";

    first.stop();
    SimProcess third(NXTKA_SIM_PATH, {"--symlink", link});  // free again once its owner ended
    EXPECT_EQ(::readlink(link.c_str(), target, sizeof target - 1) > 0 ? std::string(target, std::strlen(target)) : "",
              third.device());
}

}  // namespace
}  // namespace nxtka
