// The command codes the simulated amplifier knows, for `nxtka-sim
// --list-commands`: one line each with code, name, parameter bytes and
// answer bytes, in code order.
#pragma once

#include <cstdio>

namespace nxtka::sim {

void printCommandList(std::FILE* out);

}  // namespace nxtka::sim
