// `nxtka memory dump` and `nxtka memory write`: the amplifier's 1024 bytes of
// memory, shown as a hex dump and written byte by byte.
#pragma once

#include "active_port.h"
#include "cli_core.h"
#include "signals.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nxtka_cli {

struct MemoryDump {
    Target target;
    std::string from = "0";
    std::string count = "1024";
    std::optional<std::string> out;
};

// Every argument check of a dump; throws ToolError with status 2.
void checkMemoryDump(const MemoryDump& dump);
int runMemoryDump(const MemoryDump& dump, SignalWatch& signals);

// Throws ToolError with status 2 on a bad address or bytes.
void checkMemoryWrite(const std::string& address, const std::vector<std::string>& bytes);
// Writes the bytes and, with `verify`, reads them back: the protocol has no
// checksum, so a byte changed on the line shows only then.
int runMemoryWrite(const Target& target, const std::string& address, const std::vector<std::string>& bytes,
                   bool verify, SignalWatch& signals);

// Reads every byte of the range as a check, without stopping at a failure,
// and prints each byte whose status is not a success; exit 1 when any.
int runMemoryCheck(const MemoryDump& range, SignalWatch& signals);

// A memory status code in words.
std::string memoryStatusWords(std::int32_t status);

}  // namespace nxtka_cli
