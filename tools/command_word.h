// The command word of a command line, checked before CLI11 parses it, so
// that a mistyped command is named as such, with the one it resembles.
#pragma once

namespace nxtka_cli {

// Throws ToolError (status 2) when the first word that is not an option is
// not a command: "unknown command 'moni' (did you mean monitor?); commands:
// ...".
void checkCommandWord(int argc, char** argv);

}  // namespace nxtka_cli
