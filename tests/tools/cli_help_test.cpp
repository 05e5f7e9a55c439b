// Help and man page of the built `nxtka` program: every command's --help ends
// with examples of that command, and the man page that `cmake --install`
// makes from the programs as built documents every command's options.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace nxtka_cli::test {
namespace {

// The names listed under "Subcommands:" in a --help text.
std::vector<std::string> subcommandsIn(const std::string& help) {
    std::vector<std::string> names;
    bool inside = false;
    for (const std::string& l : lines(help)) {
        if (l == "Subcommands:") {
            inside = true;
        } else if (inside && l.rfind("  ", 0) == 0 && l.size() > 2 && l[2] != ' ') {
            names.push_back(l.substr(2, l.find(' ', 2) - 2));
        } else if (inside) {
            inside = false;
        }
    }
    return names;
}

// Every command, nested ones as "memory dump".
std::vector<std::string> everyCommand() {
    std::vector<std::string> all;
    for (const std::string& name : subcommandsIn(tool({"--help"}).out)) {
        all.push_back(name);
        for (const std::string& nested : subcommandsIn(tool({name, "--help"}).out)) all.push_back(name + " " + nested);
    }
    return all;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

TEST(Help, EveryCommandEndsWithExamplesOfItself) {
    const std::vector<std::string> commands = everyCommand();
    ASSERT_GE(commands.size(), 15u);  // 12 commands, memory's 3
    for (const std::string& command : commands) {
        std::vector<std::string> args = words(command);
        args.push_back("--help");
        const RunResult r = tool(args);
        ASSERT_EQ(r.status, 0) << command;
        const auto at = r.out.find("\nExamples:\n");
        ASSERT_NE(at, std::string::npos) << command << "\n" << r.out;
        std::size_t examples = 0;
        for (const std::string& l : lines(r.out.substr(at + 11))) {
            if (l.empty()) break;
            ++examples;
            EXPECT_EQ(l.rfind("  nxtka " + command + " ", 0), 0u) << command << ": " << l;
        }
        EXPECT_GE(examples, 1u) << command;
    }
}

#ifdef NXTKA_MAN_INSTALL
std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The options of a --help text: "-n,--count INT" gives --count.
std::vector<std::string> longOptionsIn(const std::string& help) {
    std::vector<std::string> options;
    for (const std::string& l : lines(help)) {
        const auto at = l.find("--");
        if (l.rfind("  -", 0) != 0 || at == std::string::npos) continue;
        options.push_back(l.substr(at, l.find_first_of(" =", at) - at));
    }
    return options;
}

std::string roff(std::string text) {
    for (std::size_t at = text.find('-'); at != std::string::npos; at = text.find('-', at + 2)) text.insert(at, "\\");
    return text;
}

// Installing the man pages needs no more than the programs: they are made
// from the programs as built, whatever the build tree holds.
TEST(Install, ManPagesDocumentEveryCommandsOptions) {
    const std::string prefix = tempPath("prefix");
    const RunResult install =
        run({NXTKA_CMAKE_COMMAND, "--install", NXTKA_BUILD_DIR, "--component", "man", "--prefix", prefix});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    const std::string page = readFile(prefix + "/share/man/man1/nxtka.1");
    EXPECT_NE(readFile(prefix + "/share/man/man1/nxtka-sim.1").find(".TH NXTKA-SIM"), std::string::npos);
    for (const std::string& command : everyCommand()) {
        const auto at = page.find(".SS \"nxtka " + command + "\"");
        ASSERT_NE(at, std::string::npos) << command;
        const std::string section = page.substr(at, page.find(".SS", at + 1) - at);
        std::vector<std::string> args = words(command);
        args.push_back("--help");
        for (const std::string& option : longOptionsIn(tool(args).out))
            EXPECT_NE(section.find(roff(option)), std::string::npos) << command << " " << option;
        EXPECT_NE(section.find("Examples:"), std::string::npos) << command;
    }
    run({"/bin/rm", "-rf", prefix});
}
#endif

}  // namespace
}  // namespace nxtka_cli::test
