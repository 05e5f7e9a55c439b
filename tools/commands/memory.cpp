// `nxtka memory dump|check|write`: the amplifier's 1024 bytes of memory,
// shown as a hex dump, checked byte by byte, and written byte by byte.
#include "cli_core.h"
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "output_file.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <tuple>

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
    bool unverified = false;
    std::string in;
    bool binary = false;
    CLI::App* dumpCmd = nullptr;
    CLI::App* checkCmd = nullptr;
} args;

void addOptions(CLI::App& cmd) {
    cmd.require_subcommand(1);
    args.dumpCmd = cmd.add_subcommand("dump", "hex dump of the memory, like xxd");
    args.dumpCmd->footer(
        "Examples:\n"
        "  nxtka memory dump -d /dev/ttyUSB0                 all 1024 bytes, like xxd\n"
        "  nxtka memory dump -d /dev/ttyUSB0 --from 0x100 --count 64 --out mem.txt\n"
        "  nxtka memory dump -d /dev/ttyUSB0 --from 14 --count 6 --json   {\"bytes\":[...],\"from\":14}\n");
    args.dumpCmd->add_option("--from", args.dump.from, "first address (0..1023)");
    args.dumpCmd->add_option("--count", args.dump.count, "number of bytes (1..1024)");
    args.dumpCmd->add_option("--out", args.out, "write the dump to FILE (-: standard output, the default)");
    args.checkCmd = cmd.add_subcommand("check", "each byte's status, read as a check; the faulty ones in words");
    args.checkCmd->footer(
        "Examples:\n"
        "  nxtka memory check -d /dev/ttyUSB0                every byte; exit status 1 when one is faulty\n"
        "  nxtka memory check -d /dev/ttyUSB0 --from 0 --count 64\n");
    args.checkCmd->add_option("--from", args.check.from, "first address (0..1023)");
    args.checkCmd->add_option("--count", args.check.count, "number of bytes (1..1024)");
    CLI::App* write = cmd.add_subcommand("write", "write bytes from an address");
    write->footer(
        "Examples:\n"
        "  nxtka memory write -d /dev/ttyUSB0 40 0a0b0c      three bytes from address 40\n"
        "  nxtka memory write -d /dev/ttyUSB0 0x100 0a 0b    two bytes from address 256\n"
        "  nxtka memory write -d /dev/ttyUSB0 --in mem.txt   a file of memory dump back, at its addresses\n"
        "  nxtka memory write -d /dev/ttyUSB0 --in raw.bin --binary 0x100   raw bytes from address 256\n");
    write->add_option("address", args.address, "first address (0..1023); with --binary, 0 when not given");
    write->add_option("bytes", args.bytes, "bytes in hex: 0a0b or 0a 0b");
    write->add_option("--in", args.in,
                      "write the bytes of this file (-: standard input): a memory dump (xxd lines), or raw bytes "
                      "with --binary");
    write->add_flag("--binary", args.binary, "--in holds raw bytes, written from the address");
    write->add_flag("--no-verify", args.unverified, "do not read the written bytes back");
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

// The bytes of a 16-byte line from `address` that lie in the range.
std::int32_t lineLength(std::uint32_t address, std::int32_t left) {
    return std::min<std::int32_t>(16 - static_cast<std::int32_t>(address % 16), left);
}

// "--from 48 --count 976": the part of a range not yet done.
std::string restOf(std::uint32_t from, std::int32_t count, std::int32_t done) {
    return "--from " + std::to_string(from + static_cast<std::uint32_t>(done)) + " --count " +
           std::to_string(count - done);
}

// The bytes read from `from` as xxd lines, or as JSON.
std::string rendered(std::uint32_t from, const std::vector<std::uint8_t>& bytes, bool json) {
    if (json) return memoryJson(from, bytes) + "\n";
    std::string text;
    const auto total = static_cast<std::int32_t>(bytes.size());
    for (std::int32_t done = 0; done < total;) {
        const std::uint32_t address = from + static_cast<std::uint32_t>(done);
        const std::int32_t n = lineLength(address, total - done);
        text += dumpLine(address, bytes.data() + done, static_cast<std::size_t>(n));
        done += n;
    }
    return text;
}

// A dump that ended part-way: what was read goes where the complete dump
// would not (stdout gets it as it is); says where it is.
std::string keepDumped(OutputFile& out, std::uint32_t from, const std::vector<std::uint8_t>& bytes, bool json) {
    if (bytes.empty()) return {};
    std::fputs(rendered(from, bytes, json).c_str(), out.stream());
    const std::string read = "the " + std::to_string(bytes.size()) + " bytes read";
    if (out.toStdout()) return "; above are " + read;
    return partialNote(out.path(), out.keepPartial(), read + " are");
}

int runDump(Context& context) {
    const auto [from, count] = checkedRange(args.dump);
    checkTarget(context.target);
    OutputFile out(args.out.value_or("-"), "--out");
    ActivePort port(context.target, context.signals());
    context.signals().setStopPoint("after the line being read");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::vector<std::uint8_t> bytes;
    while (static_cast<std::int32_t>(bytes.size()) < count) {
        const auto done = static_cast<std::int32_t>(bytes.size());
        if (context.signals().stopRequested()) {
            clearProgress(terminal);
            const std::string kept = keepDumped(out, from, bytes, context.json);
            context.stopHere(std::to_string(done) + " of " + std::to_string(count) + " bytes read" + kept +
                             "; the rest: " + restOf(from, count, done));
        }
        std::uint8_t line[16] = {};
        const std::uint32_t address = from + static_cast<std::uint32_t>(done);
        const std::int32_t n = lineLength(address, count - done);
        progress(terminal, done, count);
        const std::int32_t got = TKAcopyMemory(port.port(), n, address, line);
        if (got != n) {
            const LibraryFailure why = lastLibraryFailure();
            clearProgress(terminal);
            std::uint8_t word[4] = {};
            std::int32_t status = 255;
            const std::uint32_t at = address + static_cast<std::uint32_t>(got > 0 ? got : 0);
            TKAreadMemory(port.port(), at & ~3u, word, &status);
            throw ToolError("reading memory at " + std::to_string(at) + " failed: " + stepFailure(status, why) +
                            keepDumped(out, from, bytes, context.json));
        }
        bytes.insert(bytes.end(), line, line + n);
    }
    clearProgress(terminal);
    std::fputs(rendered(from, bytes, context.json).c_str(), out.stream());
    out.commit();
    return kExitDone;
}

// How far a write got, and the command that writes the rest.
std::string writeProgress(std::uint32_t first, const std::vector<std::uint8_t>& data, std::size_t written) {
    std::string text = std::to_string(written) + " of " + std::to_string(data.size()) + " bytes written";
    if (written > 0) text += " (" + std::to_string(first) + " to " + std::to_string(first + written - 1) + ")";
    std::string rest;
    for (std::size_t i = written; i < data.size(); ++i) rest += hex2(data[i]);
    return text + "; the rest: memory write " + std::to_string(first + written) + " " + rest;
}

// Reads the written bytes back (the protocol has no checksum, so a byte
// changed on the line shows only then); throws naming the first that differs.
void verifyWritten(unsigned port, std::uint32_t first, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> back(data.size());
    const auto n = static_cast<std::int32_t>(data.size());
    const std::int32_t got = TKAcopyMemory(port, n, first, back.data());
    const auto readable = static_cast<std::size_t>(got > 0 ? got : 0);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::string at = std::to_string(first + static_cast<std::uint32_t>(i));
        if (i >= readable)
            throw ToolError("reading the written bytes back failed at " + at + " (" + lastLibraryFailure().text +
                            "); --no-verify skips the read-back");
        if (back[i] != data[i])
            throw ToolError("address " + at + " holds 0x" + hex2(back[i]) + ", 0x" + hex2(data[i]) +
                            " was written: the byte changed on the line; write it again");
    }
}

std::string readInput(const std::string& path) {
    std::ostringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw ToolError("cannot read " + path, kExitUsage);
        text << in.rdbuf();
    }
    return text.str();
}

// The bytes of a dump made by `memory dump` (or xxd): "00000010: 0a0b ...  text"
// lines, one after the other. Returns the first address and the bytes;
// throws ToolError (status 2) naming the line that is not one.
std::pair<std::uint32_t, std::vector<std::uint8_t>> parseDump(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    std::vector<std::uint8_t> data;
    std::uint32_t first = 0;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto bad = [&](const std::string& why) {
            return ToolError(name + " line " + std::to_string(number) + ": " + why +
                                 " (a dump line is \"00000010: 0a0b 0c0d ...  text\")",
                             kExitUsage);
        };
        if (line.size() < 12 || line[8] != ':' || line[9] != ' ') throw bad("no address");
        std::uint32_t address = 0;
        for (int i = 0; i < 8; ++i) {
            const char c = line[static_cast<std::size_t>(i)];
            const int digit = std::isxdigit(static_cast<unsigned char>(c)) == 0 ? -1
                              : std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                                                                                 : (std::tolower(c) - 'a' + 10);
            if (digit < 0) throw bad("no address");
            address = address * 16 + static_cast<std::uint32_t>(digit);
        }
        // 16 cells of two hex digits, a space after every second: 40 columns
        std::string hex;
        for (std::size_t i = 10; i < std::min<std::size_t>(line.size(), 50); ++i)
            if (line[i] != ' ') hex += line[i];
        if (hex.empty() || hex.size() % 2 != 0) throw bad("no whole bytes");
        std::vector<std::uint8_t> bytes;
        try {
            bytes = parseHexBytes({hex});
        } catch (const ToolError& e) {
            throw bad(e.what());
        }
        if (data.empty())
            first = address;
        else if (address != first + data.size())
            throw bad("address " + std::to_string(address) + " does not follow " +
                      std::to_string(first + data.size() - 1));
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    if (data.empty()) throw ToolError(name + " holds no dump lines", kExitUsage);
    return {first, data};
}

int runWrite(Context& context) {
    std::uint32_t first = 0;
    std::vector<std::uint8_t> data;
    std::string from = args.address;
    if (!args.in.empty()) {
        if (!args.bytes.empty()) throw ToolError("memory write takes bytes or --in FILE, not both", kExitUsage);
        const std::string text = readInput(args.in);
        const std::string name = args.in == "-" ? "standard input" : args.in;
        if (args.binary) {
            first = static_cast<std::uint32_t>(parseInteger(args.address.empty() ? "0" : args.address, 0,
                                                            kMemorySize - 1));
            data.assign(text.begin(), text.end());
            if (data.empty()) throw ToolError(name + " is empty", kExitUsage);
        } else {
            if (!args.address.empty()) throw ToolError("a dump holds its addresses: no address with --in", kExitUsage);
            std::tie(first, data) = parseDump(text, name);
            from = std::to_string(first);
        }
    } else {
        if (args.binary) throw ToolError("--binary goes with --in FILE", kExitUsage);
        if (args.address.empty() || args.bytes.empty())
            throw ToolError("memory write needs an address and bytes, or --in FILE", kExitUsage);
        first = static_cast<std::uint32_t>(parseInteger(args.address, 0, kMemorySize - 1));
        data = parseHexBytes(args.bytes);
    }
    if (first + data.size() > static_cast<std::size_t>(kMemorySize))
        throw ToolError(
            std::to_string(data.size()) + " bytes from " + from + " pass the end of memory (1024 bytes)",
            kExitUsage);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    context.signals().setStopPoint("after the byte being written");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (context.signals().stopRequested()) {
            clearProgress(terminal);
            context.stopHere(writeProgress(first, data, i));
        }
        progress(terminal, static_cast<std::int64_t>(i), static_cast<std::int64_t>(data.size()));
        std::int32_t status = 255;
        const std::uint32_t at = first + static_cast<std::uint32_t>(i);
        if (TKAwriteMemory(port.port(), at, 0, data[i], &status) != 0) {
            const LibraryFailure why = lastLibraryFailure();
            clearProgress(terminal);
            throw ToolError("writing memory at " + std::to_string(at) + " failed: " + stepFailure(status, why) + "; " +
                            writeProgress(first, data, i));
        }
    }
    clearProgress(terminal);
    if (!args.unverified) verifyWritten(port.port(), first, data);
    if (context.json)
        std::printf("%s\n", memoryWriteJson(first, data.size()).c_str());
    else
        std::printf("%zu bytes written from %u%s\n", data.size(), first, args.unverified ? "" : ", read back the same");
    return kExitDone;
}

// Reads every byte of the range as a check, line by line, without stopping
// at a failure, and prints each byte whose status is not a success; exit 1
// when any.
int runCheck(Context& context) {
    const auto [from, count] = checkedRange(args.check);
    checkTarget(context.target);
    ActivePort port(context.target, context.signals());
    context.signals().setStopPoint("after the line being checked");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::vector<FaultyByte> faulty;
    std::int32_t done = 0;
    for (; done < count && !context.signals().stopRequested();) {
        std::uint8_t statuses[16] = {};
        const std::uint32_t address = from + static_cast<std::uint32_t>(done);
        const std::int32_t n = lineLength(address, count - done);
        progress(terminal, done, count);
        if (TKAcheckMemory(port.port(), n, address, statuses) != n)
            throw ToolError("checking memory at " + std::to_string(address) + " failed: " + lastLibraryFailure().text +
                            "; " + std::to_string(done) + " bytes checked before");
        clearProgress(terminal);
        for (std::int32_t i = 0; i < n; ++i) {
            if (statuses[i] <= 15) continue;
            faulty.push_back({address + static_cast<std::uint32_t>(i), statuses[i], memoryStatusWords(statuses[i])});
            if (!context.json) std::printf("%4u  %s\n", faulty.back().address, faulty.back().meaning.c_str());
        }
        done += n;
    }
    clearProgress(terminal);
    const auto failed = static_cast<std::int32_t>(faulty.size());
    if (context.json)
        std::printf("%s\n", memoryCheckJson(from, done, faulty).c_str());
    else
        std::printf("%d of %d bytes from %u checked without fault\n", done - failed, done, from);
    if (done < count)
        context.stopHere(std::to_string(done) + " of " + std::to_string(count) +
                         " bytes checked; the rest: " + restOf(from, count, done));
    return faulty.empty() ? kExitDone : kExitFailed;
}

int run(Context& context) {
    if (args.dumpCmd->parsed()) return runDump(context);
    if (args.checkCmd->parsed()) return runCheck(context);
    return runWrite(context);
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka memory dump -d /dev/ttyUSB0 --from 16 --count 32\n"
    "  nxtka memory write -d /dev/ttyUSB0 40 0a0b0c\n"
    "  nxtka memory check -d /dev/ttyUSB0\n";

}  // namespace

extern const Subcommand kMemoryCommand{
    "memory", "the amplifier's 1024 bytes of memory", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
