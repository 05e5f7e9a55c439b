// Helpers of the tests that run the built `nxtka` program: its output taken
// apart, scratch paths, and a pseudo-terminal with nobody on its far side.
#pragma once

#include "subprocess.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <string>
#include <vector>

namespace nxtka_cli::test {

inline const std::string kTool = NXTKA_CLI_PATH;
inline const std::string kSim = NXTKA_SIM_PATH;

inline RunResult tool(std::vector<std::string> args, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    args.insert(args.begin(), kTool);
    return run(std::move(args), timeout);
}

// The tool run in `dir` (by a shell), with `input` on its standard input.
inline RunResult toolIn(const std::string& dir, const std::vector<std::string>& args, const std::string& input = {}) {
    const std::string inputPath = dir + "/.stdin";
    if (FILE* f = std::fopen(inputPath.c_str(), "w")) {
        std::fputs(input.c_str(), f);
        std::fclose(f);
    }
    const auto quoted = [](const std::string& word) {
        std::string q = "'";
        for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    std::string command = "cd " + quoted(dir) + " && exec " + quoted(kTool);
    for (const std::string& a : args) command += " " + quoted(a);
    return run({"/bin/sh", "-c", command + " < .stdin"});
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The tool's own complaint: exactly one "nxtka: " line on stderr.
inline std::string complaint(const RunResult& r) {
    std::vector<std::string> mine;
    for (const std::string& l : lines(r.err))
        if (l.rfind("nxtka: ", 0) == 0) mine.push_back(l);
    EXPECT_EQ(mine.size(), 1u) << r.err;
    return mine.empty() ? std::string() : mine.front();
}

// The tool's last "nxtka: " line on stderr, after notices such as
// "nxtka: stopping ..." that a Ctrl-C brings.
inline std::string lastComplaint(const RunResult& r) {
    std::string last;
    for (const std::string& l : lines(r.err))
        if (l.rfind("nxtka: ", 0) == 0) last = l;
    return last;
}

struct ValueLine {
    double time, value;
    unsigned status;
};

// The value lines of the line view: "   0.014 s   +0.798421  0x00   [...]".
inline std::vector<ValueLine> valueLines(const std::string& out) {
    std::vector<ValueLine> v;
    for (const std::string& l : lines(out)) {
        ValueLine x{};
        char sign = 0;
        int barAt = -1;
        if (std::sscanf(l.c_str(), " %lf s %c%lf 0x%2x %n", &x.time, &sign, &x.value, &x.status, &barAt) != 4 ||
            barAt < 0 || (sign != '+' && sign != '-') || l[static_cast<std::size_t>(barAt)] != '[' || l.back() != ']')
            continue;
        if (sign == '-') x.value = -x.value;
        v.push_back(x);
    }
    return v;
}

inline std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "nxtka-cli-" + std::to_string(::getpid()) + "-" + name;
}

struct Pty {
    Pty() {
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        // Programs started by the test must not hold the far side too.
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() {
        ::close(slave);
        ::close(master);
    }
    int master = -1, slave = -1;
    char name[128] = {};
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A directory of its own, so that left-over temporary files show.
class Scratch {
public:
    Scratch() {
        std::string tmpl = ::testing::TempDir() + "nxtka-data-XXXXXX";
        dir_ = ::mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
    }
    ~Scratch() { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        DIR* d = ::opendir(dir_.c_str());
        while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr)
            if (e->d_name[0] != '.') out.emplace_back(e->d_name);
        if (d != nullptr) ::closedir(d);
        return out;
    }

private:
    std::string dir_;
};

}  // namespace nxtka_cli::test
