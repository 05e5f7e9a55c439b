#include "command_listing.h"

#include "core/command_table.h"

namespace nxtka::sim {

void printCommandList(std::FILE* out) {
    std::fprintf(out, "code  name                        parameter-bytes  answer-bytes\n");
    for (int code = 0; code < kCommandCount; ++code) {
        if (!isDefinedCommand(code)) continue;
        std::fprintf(out, "%4d  %-26s  %15d  %12d\n", code, commandName(code), paramBytesOf(code), answerBytesOf(code));
    }
}

}  // namespace nxtka::sim
