// `nxtka memory dump|check|write`: the amplifier's 1024 bytes of memory,
// shown as a hex dump, checked byte by byte, and written byte by byte.
#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"
#include "output_file.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace nxtka_cli {
namespace {

constexpr std::int64_t kMemorySize = 1024;

struct Range {
    std::string from = "0";
    std::string count = "1024";
};

struct MemoryArgs {
    Range dump, check;
    std::optional<std::string> out;
    std::string address;
    std::vector<std::string> bytes;
    CLI::App* dumpCmd = nullptr;
    CLI::App* checkCmd = nullptr;
} args;

void addOptions(CLI::App& cmd) {
    cmd.require_subcommand(1);
    args.dumpCmd = cmd.add_subcommand("dump", "hex dump of the memory, like xxd");
    args.dumpCmd->add_option("--from", args.dump.from, "first address (0..1023)");
    args.dumpCmd->add_option("--count", args.dump.count, "number of bytes (1..1024)");
    args.dumpCmd->add_option("--out", args.out, "write the dump to FILE (-: standard output, the default)");
    args.checkCmd = cmd.add_subcommand("check", "each byte's status, read as a check; the faulty ones in words");
    args.checkCmd->add_option("--from", args.check.from, "first address (0..1023)");
    args.checkCmd->add_option("--count", args.check.count, "number of bytes (1..1024)");
    CLI::App* write = cmd.add_subcommand("write", "write bytes from an address");
    write->add_option("address", args.address, "first address (0..1023)")->required();
    write->add_option("bytes", args.bytes, "bytes in hex: 0a0b or 0a 0b")->required();
}

std::string hex2(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", v & 0xFFu);
    return b;
}

// One line like xxd: "00000010: 0a0b 0c0d ...  ....".
std::string dumpLine(std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
    char head[16];
    std::snprintf(head, sizeof head, "%08x: ", address);
    std::string line = head, text;
    for (std::size_t i = 0; i < 16; ++i) {
        line += i < n ? hex2(bytes[i]) : "  ";
        if (i % 2 == 1) line += ' ';
        if (i < n) text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
    }
    return line + ' ' + text + '\n';
}

void progress(bool terminal, std::int64_t done, std::int64_t total) {
    if (!terminal) return;
    const int width = 30;
    const int filled = static_cast<int>(done * width / (total > 0 ? total : 1));
    std::fprintf(stderr, "\r  [%s%s] %lld/%lld bytes", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(stderr);
}

void clearProgress(bool terminal) {
    if (terminal) std::fprintf(stderr, "\r%60s\r", "");
}

// A memory status code in words.
std::string memoryStatusWords(std::int32_t status) {
    const std::string code = "status " + std::to_string(status);
    if (status >= 0 && status <= 15) return code + ": done";
    if (status == 16) return code + ": the amplifier refused it or gave an unknown answer";
    if (status > 16 && status <= 31) return code + ": the amplifier refused it";
    if (status == 255) return code + ": no answer, or an address the amplifier does not have";
    return code + ": not a memory status";
}

// Why a memory step failed: the status the amplifier answered, or the
// library's reason when no answer came.
std::string stepFailure(std::int32_t status, const LibraryFailure& why) {
    if (status == 16) return "the amplifier gave an answer of an unknown kind (status 16)";
    if (status > 16 && status <= 31) return "the amplifier refused it with status " + std::to_string(status);
    if (!why.text.empty()) return why.text;
    return memoryStatusWords(status);
}

// The first address and the count of a range; throws ToolError with status 2.
std::pair<std::uint32_t, std::int32_t> checkedRange(const Range& range) {
    const std::int64_t from = parseInteger(range.from, 0, kMemorySize - 1);
    const std::int64_t count = parseInteger(range.count, 1, kMemorySize);
    if (from + count > kMemorySize)
        throw ToolError("--from " + range.from + " --count " + range.count + " passes the end of memory (1024 bytes)",
                        kExitUsage);
    return {static_cast<std::uint32_t>(from), static_cast<std::int32_t>(count)};
}

int runDump(Context& context) {
    const auto [from, count] = checkedRange(args.dump);
    checkTarget(context.target);
    OutputFile out(args.out.value_or("-"), "--out");
    ActivePort port(context.target, context.signals());
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::string text;
    for (std::int32_t done = 0; done < count;) {
        std::uint8_t line[16] = {};
        const std::uint32_t address = from + static_cast<std::uint32_t>(done);
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(16 - address % 16, count - done));
        progress(terminal, done, count);
        const std::int32_t got = TKAcopyMemory(port.port(), n, address, line);
        if (got != n) {
            const LibraryFailure why = lastLibraryFailure();
            clearProgress(terminal);
            std::uint8_t word[4] = {};
            std::int32_t status = 255;
            const std::uint32_t at = address + static_cast<std::uint32_t>(got > 0 ? got : 0);
            TKAreadMemory(port.port(), at & ~3u, word, &status);
            std::string note;
            if (done > 0) {
                std::fputs(text.c_str(), out.stream());
                note = out.toStdout() ? "; the lines above are the " + std::to_string(done) + " bytes read"
                                      : partialNote(out.path(), out.keepPartial(),
                                                    "the " + std::to_string(done) + " bytes read are");
            }
            throw ToolError("reading memory at " + std::to_string(at) + " failed: " + stepFailure(status, why) +
                            note);
        }
        text += dumpLine(address, line, static_cast<std::size_t>(n));
        done += n;
    }
    clearProgress(terminal);
    std::fputs(text.c_str(), out.stream());
    out.commit();
    return kExitDone;
}

int runWrite(Context& context) {
    const auto first = static_cast<std::uint32_t>(parseInteger(args.address, 0, kMemorySize - 1));
    const std::vector<std::uint8_t> data = parseHexBytes(args.bytes);
    if (first + data.size() > static_cast<std::size_t>(kMemorySize))
        throw ToolError(std::to_string(data.size()) + " bytes from " + args.address +
                            " pass the end of memory (1024 bytes)",
                        kExitUsage);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        progress(terminal, static_cast<std::int64_t>(i), static_cast<std::int64_t>(data.size()));
        std::int32_t status = 255;
        const std::uint32_t at = first + static_cast<std::uint32_t>(i);
        if (TKAwriteMemory(port.port(), at, 0, data[i], &status) != 0) {
            const LibraryFailure why = lastLibraryFailure();
            clearProgress(terminal);
            throw ToolError("writing memory at " + std::to_string(at) + " failed: " + stepFailure(status, why) + "; " +
                            std::to_string(i) + " bytes written before");
        }
    }
    clearProgress(terminal);
    std::printf("%zu bytes written from %u\n", data.size(), first);
    return 0;
}

// Reads every byte of the range as a check, without stopping at a failure,
// and prints each byte whose status is not a success; exit 1 when any.
int runCheck(Context& context) {
    const auto [from, count] = checkedRange(args.check);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    std::vector<std::uint8_t> statuses(static_cast<std::size_t>(count));
    if (TKAcheckMemory(port.port(), count, from, statuses.data()) != count)
        throw ToolError("checking memory from " + std::to_string(from) + " failed: " + lastLibraryFailure().text);
    int failed = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t status = statuses[static_cast<std::size_t>(i)];
        if (status <= 15) continue;
        std::printf("%4u  %s\n", from + static_cast<std::uint32_t>(i), memoryStatusWords(status).c_str());
        ++failed;
    }
    std::printf("%d of %d bytes from %u checked without fault\n", count - failed, count, from);
    return failed == 0 ? 0 : 1;
}

int run(Context& context) {
    if (args.dumpCmd->parsed()) return runDump(context);
    if (args.checkCmd->parsed()) return runCheck(context);
    return runWrite(context);
}

}  // namespace

extern const Subcommand kMemoryCommand{"memory", "the amplifier's 1024 bytes of memory", true, false, addOptions, run};

}  // namespace nxtka_cli
