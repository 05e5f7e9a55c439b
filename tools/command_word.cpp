#include "command_word.h"

#include "cli_core.h"
#include "subcommand.h"

#include <optional>

namespace nxtka_cli {
namespace {

// The first word that is not an option (or an option's value), so that a
// mistyped command is named as such.
std::optional<std::string> commandWord(int argc, char** argv) {
    static const char* const kWithValue[] = {"-d", "--device", "-p", "--port", "-b", "--baud"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") return std::nullopt;
        if (a.size() > 1 && a[0] == '-') {
            for (const char* o : kWithValue)
                if (a == o) ++i;
            continue;
        }
        return a;
    }
    return std::nullopt;
}

}  // namespace

void checkCommandWord(int argc, char** argv) {
    const auto word = commandWord(argc, argv);
    if (!word) return;
    std::string known, close;
    for (const Subcommand* s : subcommands()) {
        const std::string name = s->name;
        if (*word == name) return;
        known += (known.empty() ? "" : ", ") + name;
        if (close.empty() && !word->empty() && (name.rfind(*word, 0) == 0 || word->rfind(name, 0) == 0)) close = name;
    }
    throw ToolError("unknown command '" + *word + "'" + (close.empty() ? "" : " (did you mean " + close + "?)") +
                        "; commands: " + known,
                    kExitUsage);
}

}  // namespace nxtka_cli
