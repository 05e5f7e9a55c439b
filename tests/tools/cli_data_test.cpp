// The built `nxtka` program as a test bench uses it: no data lost, argument
// errors caught before any device, JSON for scripts, the port listing, and
// what comes back after `send --wait`.
#include "tool_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace nxtka_cli::test {
namespace {

using nlohmann::json;

// The tool running in the background, its stdout read by the test.
class Spawned {
public:
    explicit Spawned(std::vector<std::string> args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::vector<char*> argv = argvOf(args);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Spawned() {
        closeOutput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    // What came on stdout until `n` lines were there or the time ran out.
    std::string readLines(long n, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::count(text_.begin(), text_.end(), '\n') < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const ssize_t got = ::read(out_, buf, sizeof buf);
            if (got <= 0) break;
            text_.append(buf, static_cast<std::size_t>(got));
        }
        return text_;
    }
    void closeOutput() {
        if (out_ >= 0) ::close(out_);
        out_ = -1;
    }
    // The exit status, or -1 when it still runs after `timeout`.
    int wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int ws = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &ws, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
            }
            if (out_ >= 0) readLines(1L << 30, std::chrono::milliseconds(20));  // keep the pipe from filling
            else ::usleep(20000);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
};

// ---------------------------------------------------------------- no data lost

// A run that brings no values leaves an existing file as it was, and no
// temporary file behind: a mistyped device, a port out of range, a bad
// count, and an amplifier that sends nothing.
TEST(KeepData, NoValuesLeaveTheFileAlone) {
    SimProcess silent(kSim, {"--rate", "0"});
    struct Row {
        std::vector<std::string> args;
        int status;
    };
    const Row rows[] = {
        {{"--device", "/dev/nxtka-mistyped"}, 1},
        {{"--port", "4096"}, 2},
        {{"--device", silent.device(), "--count", "-1"}, 2},
        {{"--device", silent.device(), "--seconds", "0.5"}, 3},
        {{"--device", silent.device(), "--seconds", "0.5", "--append"}, 2},  // not a file of rows
    };
    for (const Row& row : rows) {
        Scratch dir;
        const std::string keep = dir.path("keep.csv");
        writeFile(keep, "precious\n");
        std::vector<std::string> args{"monitor", "--csv", keep};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, row.status) << row.args[1] << r.err;
        EXPECT_EQ(readFile(keep), "precious\n") << row.args[1];
        EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.csv"}) << row.args[1];
    }
}

TEST(KeepData, NewRowsReplaceTheFileAndAppendAddsToIt) {
    SimProcess sim(kSim, {"--rate", "200", "--value", "0.5", "--status", "3"});
    Scratch dir;
    const std::string csv = dir.path("run.csv");
    writeFile(csv, "old\n");
    ASSERT_EQ(tool({"monitor", "-d", sim.device(), "-n", "3", "--csv", csv}).status, 0);
    auto rows = lines(readFile(csv));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], "sample,read_time_s,value,status");
    for (unsigned i = 0; i < 3; ++i) {
        unsigned sample = 99, status = 99;
        double t = -1, v = 0;
        ASSERT_EQ(std::sscanf(rows[i + 1].c_str(), "%u,%lf,%lf,%u", &sample, &t, &v, &status), 4);
        EXPECT_EQ(sample, i);
        EXPECT_NEAR(v, 0.5, 1e-6);
        EXPECT_EQ(status, 3u);
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"run.csv"});

    // Appended rows number on from the last row and bring no second header.
    ASSERT_EQ(tool({"monitor", "-d", sim.device(), "-n", "2", "--csv", csv, "--append"}).status, 0);
    rows = lines(readFile(csv));
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[4].rfind("3,", 0), 0u) << rows[4];
    EXPECT_EQ(rows[5].rfind("4,", 0), 0u) << rows[5];

    // Appending to a file that does not exist yet starts it with the header.
    const std::string fresh = dir.path("fresh.csv");
    ASSERT_EQ(tool({"monitor", "-d", sim.device(), "-n", "1", "--csv", fresh, "-a"}).status, 0);
    rows = lines(readFile(fresh));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], "sample,read_time_s,value,status");
}

// Rows reach a pipe as they are read: at 10 values/s, three lines would
// otherwise wait for a 4 KB block (about ten seconds). When the reader goes,
// the tool ends.
TEST(KeepData, RowsStreamThroughAPipe) {
    SimProcess sim(kSim, {"--rate", "10"});
    Spawned tool({kTool, "monitor", "--device", sim.device(), "--csv", "-"});
    const std::string text = tool.readLines(3, std::chrono::seconds(5));
    tool.closeOutput();  // as `head -3` does
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 3) << text;
    EXPECT_EQ(text.rfind("sample,read_time_s,value,status\n0,", 0), 0u) << text;
    EXPECT_GE(tool.wait(std::chrono::seconds(5)), 0) << "the tool ran on after its reader went away";
}

// The amplifier goes away in the middle of a run: the tool fails, the
// earlier file stays as it was, and the rows read until then are in the
// temporary file beside it, which the complaint names.
TEST(KeepData, RowsReadBeforeAFailureAreKeptBesideTheOldFile) {
    Scratch dir;
    const std::string csv = dir.path("run.csv");
    writeFile(csv, "old\n");
    auto sim = std::make_unique<SimProcess>(kSim, std::vector<std::string>{"--rate", "100"});
    const std::string device = sim->device();
    std::thread hangUp([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        sim.reset();
    });
    const RunResult r = tool({"monitor", "--device", device, "--csv", csv, "--view", "lines"});
    hangUp.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(csv), "old\n");
    const auto names = dir.names();
    ASSERT_EQ(names.size(), 2u);
    const std::string partial = names[0] == "run.csv" ? names[1] : names[0];
    EXPECT_EQ(partial.rfind("run.csv.partial-", 0), 0u) << partial;
    const auto rows = lines(readFile(dir.path(partial)));
    ASSERT_GE(rows.size(), 5u);
    EXPECT_EQ(rows[0], "sample,read_time_s,value,status");
    EXPECT_EQ(rows[1].rfind("0,", 0), 0u);
    EXPECT_NE(complaint(r).find("; " + csv + " is unchanged, the " + std::to_string(rows.size() - 1) +
                                " rows read are in " + dir.path(partial)),
              std::string::npos)
        << r.err;
}

// Every file option keeps an existing file when the run fails before any
// result: here the device is missing.
TEST(KeepData, EveryFileOptionLeavesTheFileWhenTheDeviceIsMissing) {
    const std::vector<std::vector<std::string>> rows = {
        {"monitor", "--count", "5", "--csv", "keep.txt"},
        {"memory", "dump", "--out", "keep.txt"},
        {"linear", "read", "--table", "keep.txt"},
    };
    for (const auto& args : rows) {
        Scratch dir;
        writeFile(dir.path("keep.txt"), "keep\n");
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--device", "/dev/nxtka-mistyped"});
        const RunResult r = toolIn(dir.path(""), full);
        EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
        EXPECT_EQ(readFile(dir.path("keep.txt")), "keep\n") << args[0];
        EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.txt"}) << args[0];
    }
}

// A dump cut by a hang-up (the words come 200 ms apart, the simulator ends
// after 2.5 s): the earlier file stays, the lines read are beside it.
TEST(KeepData, DumpCutByAHangUpKeepsTheOldFile) {
    Scratch dir;
    const std::string out = dir.path("md.txt");
    writeFile(out, "keep\n");
    auto sim = std::make_unique<SimProcess>(kSim, std::vector<std::string>{"--rate", "0", "--late", "ReadMemory:200"});
    const std::string device = sim->device();
    std::thread hangUp([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        sim.reset();
    });
    const RunResult r = tool({"memory", "dump", "--device", device, "--out", out});
    hangUp.join();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(readFile(out), "keep\n");
    const auto names = dir.names();
    ASSERT_EQ(names.size(), 2u);
    const std::string partial = names[0] == "md.txt" ? names[1] : names[0];
    const auto dumped = lines(readFile(dir.path(partial)));
    ASSERT_GE(dumped.size(), 1u);
    EXPECT_EQ(dumped[0], "00000000: 0000 0000 0000 0000 0000 0000 0000 0000  ................");
    EXPECT_NE(complaint(r).find("; " + out + " is unchanged, the " + std::to_string(16 * dumped.size()) +
                                " bytes read are in " + dir.path(partial)),
              std::string::npos)
        << r.err;
}

// "-" is standard output or input for every file option, never a file of
// that name.
TEST(KeepData, DashIsStandardOutputOrInput) {
    SimProcess sim(kSim, {"--rate", "0", "--level", "5", "--options", "0x80", "--memory", "16:0a0b"});
    struct Row {
        std::vector<std::string> args;
        std::string input;
        std::string out;
    };
    const Row rows[] = {
        {{"memory", "dump", "--from", "16", "--count", "2", "--out", "-"}, "",
         "00000010: 0a0b                                     ..\n"},
        // 0.525 is 2^14 steps of the 16-bit point format: it reads back as it was.
        {{"linear", "write", "--table", "-"}, "0,0\n0.525,0.525\n0,-1\n", "2 points written\n"},
        {{"linear", "read", "--table", "-"}, "", "input,output\n0,0\n0.525,0.525\n0,-1\n"},
        {{"linear", "check", "--table", "-"}, "0,0\n0.5,0.25\n1,1\n0,-1\n",
         "3 points checked: the amplifier would take them\n"},
    };
    for (const Row& row : rows) {
        Scratch dir;
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--device", sim.device()});
        const RunResult r = toolIn(dir.path(""), args, row.input);
        EXPECT_EQ(r.status, 0) << row.args[0] << " " << row.args[1] << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.args[0] << " " << row.args[1];
        EXPECT_TRUE(dir.names().empty()) << row.args[0] << " " << row.args[1];
    }
}

// --append adds only to a file of this tool's rows that ends with a whole
// row; anything else is refused before any device, and left as it was.
TEST(KeepData, AppendRefusesAFileOfAnotherKind) {
    struct Row {
        std::string content;
        std::string says;
    };
    const Row rows[] = {
        {"time,value\n0.1,0.5\n", "begins with 'time,value', not this tool's header"},
        {"sample,read_time_s,value,status\n0,0.1,0.5,0\n1,0.2", "the last line of"},
        {"sample,read_time_s,value,status\n0,0.1,0.5,0\nnotes\n", "is not a row of"},
    };
    for (const Row& row : rows) {
        Scratch dir;
        const std::string csv = dir.path("run.csv");
        writeFile(csv, row.content);
        const RunResult r = tool({"monitor", "--device", "/dev/nxtka-mistyped", "--csv", csv, "--append"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(complaint(r).find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(readFile(csv), row.content);
    }
}

// ---------------------------------------------------------------- arguments

// Every argument error ends with status 2 at once, before any device is
// opened: against a pseudo-terminal nobody answers, opening it would take
// seconds and end in "no answer".
TEST(Arguments, ErrorsEndWithStatusTwoBeforeAnyDevice) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const std::string dev = pty.name;
    struct Row {
        std::vector<std::string> args;
        std::string says;
    };
    const Row rows[] = {
        {{"set", "transmit", "maybe", "-d", dev}, "'maybe' is not on or off"},
        {{"set", "polarity", "sideways", "-d", dev}, "polarity is bipolar or unipolar"},
        {{"info", "--device", ""}, "--device needs a path"},
        {{"monitor", "-d", dev, "--count", "-3"}, "--count must be 1 or more"},
        {{"monitor", "-d", dev, "--count", "0"}, "--count must be 1 or more"},
        {{"monitor", "-d", dev, "--seconds", "nan"}, "--seconds must be a number above 0"},
        {{"monitor", "-d", dev, "--seconds", "-1"}, "--seconds must be a number above 0"},
        {{"monitor", "-d", dev, "--append"}, "--append needs --csv FILE"},
        {{"monitor", "-d", dev, "--csv", "/nxtka-no-such-dir/x.csv"}, "/nxtka-no-such-dir does not exist"},
        {{"info", "-d", dev, "--baud", "0"}, "line speed 0 is not a positive bit rate"},
        {{"send", "-d", dev, "--wait", "-5", "3b"}, "--wait takes 0 to 60000 ms"},
        {{"send", "-d", dev, "--wait", "100", "--baud", "12345", "3b"}, "--wait needs a standard line speed"},
        {{"send", "-d", dev, "2a3"}, "odd number of hex digits"},
        {{"moni", "-d", dev}, "unknown command 'moni' (did you mean monitor?)"},
        {{"-d", dev, "frobnicate"}, "unknown command 'frobnicate'"},
        {{"get", "colour", "-d", dev}, "unknown setting 'colour'"},
    };
    for (const Row& row : rows) {
        const RunResult r = tool(row.args, std::chrono::seconds(3));
        EXPECT_FALSE(r.timedOut) << row.says;
        EXPECT_EQ(r.status, 2) << row.says << ": " << r.err;
        EXPECT_NE(complaint(r).find(row.says), std::string::npos) << r.err;
    }
    // Errors of the option parser itself also end with 2.
    EXPECT_EQ(tool({"monitor", "-d", dev, "--count", "many"}).status, 2);
    EXPECT_EQ(tool({"info", "--no-such-option"}).status, 2);
}

TEST(Arguments, OptionsMayStandBeforeTheCommand) {
    SimProcess sim(kSim, {"--level", "4"});
    const RunResult r = tool({"--device", sim.device(), "--json", "get", "model"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["value"], 4);
    // After the command, its own options win.
    const RunResult own = tool({"--device", "/dev/nxtka-elsewhere", "get", "model", "--device", sim.device()});
    EXPECT_EQ(own.status, 0) << own.err;
    EXPECT_EQ(own.out, "4\n");
}

// A quick second Ctrl-C (5 ms after the first, while the port is being
// released) still gives the summary.
TEST(Arguments, SecondCtrlCWithinHalfASecondKeepsTheSummary) {
    SimProcess sim(kSim, {"--rate", "100"});
    const RunResult quick = run({kTool, "monitor", "--device", sim.device()}, std::chrono::seconds(20), "status",
                                std::chrono::milliseconds(300), std::chrono::milliseconds(5));
    EXPECT_EQ(quick.status, 0) << quick.err;
    EXPECT_NE(quick.out.find("interrupted"), std::string::npos) << quick.out;
    EXPECT_NE(quick.out.find(" values in "), std::string::npos) << quick.out;
}

// ---------------------------------------------------------------- JSON

TEST(Json, EachCommandsOutputParsesBack) {
    SimProcess sim(kSim, {"--level", "4", "--baud", "115200", "--rate", "200", "--value", "-0.5", "--status", "2"});
    const std::vector<std::string> at{"--device", sim.device(), "--baud", "115200"};
    auto withTarget = [&](std::vector<std::string> args) {
        args.insert(args.end(), at.begin(), at.end());
        return args;
    };

    const RunResult get = tool(withTarget({"get", "baud", "--json"}));
    ASSERT_EQ(get.status, 0) << get.err;
    const json baud = json::parse(get.out);
    EXPECT_EQ(baud["setting"], "baud");
    EXPECT_EQ(baud["value"], 115200);
    EXPECT_EQ(baud["unit"], "bit/s");

    const RunResult info = tool(withTarget({"info", "--json"}));
    ASSERT_EQ(info.status, 0) << info.err;
    const json i = json::parse(info.out);
    EXPECT_EQ(i["device"], sim.device());
    EXPECT_EQ(i["port"], 0);
    EXPECT_EQ(i["settings"]["model"]["value"], 4);
    EXPECT_EQ(i["settings"]["baud"]["value"], 115200);

    const RunResult mon = tool(withTarget({"monitor", "--count", "7", "--json"}));
    ASSERT_EQ(mon.status, 0) << mon.err;
    const json m = json::parse(mon.out);  // nothing else on stdout
    EXPECT_EQ(m["values"], 7);
    EXPECT_EQ(m["statuses"]["0x02"], 7);
    EXPECT_NEAR(m["min"].get<double>(), -0.5, 1e-6);
    EXPECT_NEAR(m["max"].get<double>(), -0.5, 1e-6);
    EXPECT_EQ(m["interrupted"], false);
    EXPECT_TRUE(m["csv"].is_null());

    // list --json has the rows of list, by name.
    const RunResult list = tool({"list", "--json"});
    ASSERT_EQ(list.status, 0);
    const json rows = json::parse(list.out);
    ASSERT_TRUE(rows.is_array());
    std::size_t textRows = 0;
    for (const std::string& l : lines(tool({"list"}).out))
        if (!l.empty() && l.rfind("NAME", 0) != 0 && l.find("more settings") == std::string::npos) ++textRows;
    EXPECT_EQ(rows.size(), textRows);
    bool model = false;
    for (const json& r : rows)
        if (r["name"] == "model") model = r["get"] == "TKAmodel" && r["set"].is_null();
    EXPECT_TRUE(model) << list.out;
}

// Every subcommand prints one JSON document under --json, or refuses --json
// (after the command or before it) with status 2.
TEST(Json, EverySubcommandPrintsJsonOrRefusesIt) {
    SimProcess sim(kSim, {"--level", "5", "--options", "0x80", "--rate", "200", "--memory", "14:48656c6c6f21"});
    Scratch dir;
    const std::string table = dir.path("table.csv"), back = dir.path("back.csv");
    writeFile(table, "0,0\n0.525,0.525\n0,-1\n");
    struct Row {
        std::vector<std::string> args;
        std::function<void(const json&)> check;
    };
    const Row rows[] = {
        {{"info"}, [](const json& j) { EXPECT_EQ(j["settings"]["model"]["value"], 5); }},
        {{"monitor", "--count", "3"}, [](const json& j) { EXPECT_EQ(j["values"], 3); }},
        {{"send", "3b"}, [](const json& j) { EXPECT_EQ(j["sent"], json::array({0x3B})); }},
        {{"get", "model"}, [](const json& j) { EXPECT_EQ(j["value"], 5); }},
        {{"set", "gain", "5"}, [](const json& j) { EXPECT_EQ(j, json::parse(R"({"setting":"gain","set":"5",
             "value":5,"text":"5","holds":true})")); }},
        {{"set", "adapt-threshold", "0.1"},
         [](const json& j) {
             EXPECT_EQ(j["holds"], false);
             EXPECT_DOUBLE_EQ(j["value"].get<double>(), 65535 * 6.258487701416016e-8);
         }},
        {{"list"}, [](const json& j) { EXPECT_TRUE(j.is_array()); }},
        {{"ports"}, [](const json& j) { EXPECT_TRUE(j.is_array()); }},
        {{"adjust", "zero"}, [](const json& j) { EXPECT_EQ(j["came_back"], true); }},
        {{"ranges"},
         [](const json& j) { EXPECT_EQ(j.at(0), json::parse(R"({"first":0,"second":0,"status":1,"value":1.0})")); }},
        {{"memory", "dump", "--from", "14", "--count", "6"},  // "Hello!"
         [](const json& j) { EXPECT_EQ(j, json::parse(R"({"from":14,"bytes":[72,101,108,108,111,33]})")); }},
        {{"memory", "check", "--from", "0", "--count", "8"},
         [](const json& j) { EXPECT_EQ(j, json::parse(R"({"from":0,"count":8,"faulty":[]})")); }},
        {{"memory", "write", "40", "0a"}, [](const json& j) { EXPECT_EQ(j["written"], 1); }},
        {{"linear", "check", "--table", table},
         [](const json& j) { EXPECT_EQ(j, json::parse(R"({"action":"check","points":2,"written":false})")); }},
        {{"linear", "write", "--table", table},
         [](const json& j) { EXPECT_EQ(j, json::parse(R"({"action":"write","points":2,"written":true})")); }},
        {{"linear", "read", "--table", back},
         [&](const json& j) {
             EXPECT_EQ(j, json::parse(R"({"points":[[0,0],[0.525,0.525]],"extra":[0,-1],"table":")" + back + "\"}"));
         }},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.push_back("--json");
        if (row.args[0] != "list" && row.args[0] != "ports") args.insert(args.end(), {"-d", sim.device()});
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, 0) << row.args[0] << ": " << r.err;
        try {
            row.check(json::parse(r.out));
        } catch (const json::exception& e) {
            ADD_FAILURE() << row.args[0] << ": " << e.what() << "\n" << r.out;
        }
    }
    for (const std::vector<std::string>& refused : {std::vector<std::string>{"demo", "--json"}, {"--json", "demo"}}) {
        const RunResult r = tool(refused);
        EXPECT_EQ(r.status, 2) << refused[0];
        EXPECT_EQ(r.out, "");
    }
}

// ---------------------------------------------------------------- ports

// Pseudo-terminals are no serial ports, so the plain listing leaves them
// out; --all shows the simulator's with its process, and a program that
// holds one open.
TEST(Ports, PseudoTerminalsOfSimulatorsAndTheirHolders) {
    SimProcess sim(kSim, {"--rate", "0"});
    const RunResult plain = tool({"ports", "--json"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const json& p : json::parse(plain.out)) EXPECT_NE(p["device"], sim.device());

    Holder holder(sim.device(), {"sleep", "30"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const RunResult all = tool({"ports", "--all", "--json"});
    ASSERT_EQ(all.status, 0) << all.err;
    const json ports = json::parse(all.out);
    const json* mine = nullptr;
    for (const json& p : ports)
        if (p["device"] == sim.device()) mine = &p;
    ASSERT_NE(mine, nullptr) << all.out;
    EXPECT_EQ((*mine)["transport"], "pseudo-terminal");
    EXPECT_NE((*mine)["description"].get<std::string>().find("nxtka-sim"), std::string::npos) << all.out;
    EXPECT_EQ((*mine)["holder"], "pid " + std::to_string(holder.pid()) + ", sleep") << all.out;

    const RunResult text = tool({"ports", "--all"});
    EXPECT_NE(text.out.find(sim.device() + "  pseudo-terminal"), std::string::npos) << text.out;
}

TEST(Ports, MissingDeviceNamesThePresentPorts) {
    const RunResult listed = tool({"ports", "--json"});
    ASSERT_EQ(listed.status, 0);
    std::string expected;
    for (const json& p : json::parse(listed.out))
        expected += (expected.empty() ? "present: " : ", ") + p["device"].get<std::string>();
    if (expected.empty()) expected = "no serial ports are present";
    const RunResult r = tool({"info", "--device", "/dev/nxtka-no-such-device"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(complaint(r), "nxtka: /dev/nxtka-no-such-device does not exist (check the device name and that the "
                            "adapter is plugged in); " + expected);
}

// A program that has the device open without a lock takes the answers; the
// failure names it instead of only "no answer".
TEST(Ports, NoAnswerNamesTheProgramThatHasTheDeviceOpen) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    Holder holder(pty.name, {"sleep", "30"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const RunResult r = tool({"info", "--device", pty.name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(complaint(r), std::string("nxtka: no answer from an amplifier on ") + pty.name +
                                ": another program has it open (pid " + std::to_string(holder.pid()) +
                                ", sleep) and may take the answers; close that program");
}

// ---------------------------------------------------------------- send --wait

// Command 42 with parameter 3 is answered with a "$" frame: "$", three
// bytes, and the protocol level (4 here).
TEST(Send, WaitShowsTheBytesThatCameBack) {
    SimProcess sim(kSim, {"--rate", "0", "--level", "4"});
    const RunResult r = tool({"send", "-d", sim.device(), "--wait", "500", "2a", "03"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0], "sent 2 bytes to " + sim.device() + ": 2A 03");
    ASSERT_EQ(out[1].rfind("received 5 bytes within 500 ms: 24 ", 0), 0u) << out[1];
    EXPECT_EQ(out[1].substr(out[1].size() - 3), " 04") << out[1];

    const RunResult quiet = tool({"send", "-d", sim.device(), "--wait", "200", "00"});
    EXPECT_NE(quiet.out.find("no bytes came back within 200 ms"), std::string::npos) << quiet.out;
}

// ---------------------------------------------------------------- habits

// The bash completion, run as bash runs it: commands, options of a command,
// setting names from the tool itself, values of a switch.
TEST(Habits, BashCompletion) {
    const std::string framework = "/usr/share/bash-completion/bash_completion";
    if (::access(framework.c_str(), R_OK) != 0) GTEST_SKIP() << "bash-completion is not installed";
    const std::string script =
        "source " + framework + "; source " NXTKA_COMPLETION_FILE "; read -ra COMP_WORDS <<< \"$1\"; "
        "[[ \"$1\" == *' ' ]] && COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=\"$1\"; "
        "COMP_POINT=${#COMP_LINE}; _nxtka 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\"";
    struct Row {
        std::string line;
        std::vector<std::string> offered;
    };
    const Row rows[] = {
        {" mon", {"monitor"}},
        {" p", {"ports", "publish"}},
        {" monitor --c", {"--count", "--csv"}},
        {" get mode-l", {"mode-linear", "mode-lock", "mode-log"}},
        {" -d /tmp/x set model", {"model"}},
        {" set transmit o", {"off", "on"}},
    };
    for (const Row& row : rows) {
        const RunResult r = run({"/bin/bash", "-c", script, "_", kTool + row.line});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::string> got = lines(r.out);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, row.offered) << row.line;
    }
}

// ---------------------------------------------------------------- the README's example

#ifdef NXTKA_EXAMPLE_PATH
TEST(Example, ReadmeProgramWaitsForTheValues) {
    SimProcess sim(kSim, {"--level", "2", "--rate", "50", "--value", "0.125", "--status", "1"});
    const RunResult r = run({NXTKA_EXAMPLE_PATH, sim.device(), "4"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "protocol level 2\n0.125000 (status 1)\n0.125000 (status 1)\n0.125000 (status 1)\n"
                     "0.125000 (status 1)\n");
}
#endif

}  // namespace
}  // namespace nxtka_cli::test

namespace nxtka_cli::test {
namespace {

// `nxtka adjust`: a refused procedure name before any device; the procedure
// end to end with the amplifier coming back, and staying away.
TEST(Adjust, RunsTheProcedureAndSaysWhetherTheAmplifierCameBack) {
    const RunResult bad = tool({"adjust", "zeroo", "--device", "/dev/null/none"});
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_NE(complaint(bad).find("zero, scale, offset or cal"), std::string::npos);

    SimProcess sim(kSim, {"--adjust-ms", "300"});
    const RunResult ok = tool({"adjust", "zero", "--device", sim.device()});
    ASSERT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_NE(ok.out.find("zero adjustment done: the amplifier came back"), std::string::npos) << ok.out;

    SimProcess away(kSim, {"--adjust-ms", "7000"});
    const RunResult late = tool({"adjust", "cal", "--device", away.device()});
    EXPECT_EQ(late.status, 1) << late.out << late.err;
    EXPECT_NE(late.out.find("calibration: the amplifier did not come back"), std::string::npos) << late.out;
}

// `nxtka ranges`: entries with status and value, none of the missing ones,
// a group ended by its terminator.
TEST(Ranges, PrintsTheEntriesOfTheRangeTable) {
    SimProcess sim(kSim, {"--level", "5", "--ranges", "0/0=0x018000C8,0/1=0x020003E8,0/2=0x80000000,0/3=0x01000001,2/5=0x03000032"});
    const RunResult r = tool({"ranges", "--device", sim.device()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"entry   status  value", " 0/0         1  -2.00",
                                                       " 0/1         2  10.00", " 2/5         3  0.50"}));
}

}  // namespace
}  // namespace nxtka_cli::test
