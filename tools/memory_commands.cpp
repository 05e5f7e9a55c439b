#include "memory_commands.h"

#include "nxtka.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace nxtka_cli {
namespace {

constexpr std::int64_t kMemorySize = 1024;

std::string lastFailure() {
    char text[200] = {};
    NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    return text[0] != 0 ? text : "no reason given";
}

std::uint32_t addressOf(const std::string& text) {
    return static_cast<std::uint32_t>(parseInteger(text, 0, kMemorySize - 1));
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

// Reads the written bytes back; throws naming the first that differs.
void verifyWritten(unsigned port, std::uint32_t first, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> back(data.size());
    const auto n = static_cast<std::int32_t>(data.size());
    const std::int32_t got = TKAcopyMemory(port, n, first, back.data());
    const auto readable = static_cast<std::size_t>(got > 0 ? got : 0);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::string at = std::to_string(first + static_cast<std::uint32_t>(i));
        if (i >= readable)
            throw ToolError("reading the written bytes back failed at " + at + " (" + lastFailure() +
                            "); --no-verify skips the read-back");
        if (back[i] != data[i])
            throw ToolError("address " + at + " holds 0x" + hex2(back[i]) + ", 0x" + hex2(data[i]) +
                            " was written: the byte changed on the line; write it again");
    }
}

}  // namespace

std::string memoryStatusWords(std::int32_t status) {
    const std::string code = "status " + std::to_string(status);
    if (status >= 0 && status <= 15) return code + ": done";
    if (status == 16) return code + ": the amplifier refused it or gave an unknown answer";
    if (status > 16 && status <= 31) return code + ": the amplifier refused it";
    if (status == 255) return code + ": no answer, or an address the amplifier does not have";
    return code + ": not a memory status";
}

void checkMemoryDump(const MemoryDump& dump) {
    const std::int64_t from = parseInteger(dump.from, 0, kMemorySize - 1);
    const std::int64_t count = parseInteger(dump.count, 1, kMemorySize);
    if (from + count > kMemorySize)
        throw ToolError("--from " + dump.from + " --count " + dump.count + " passes the end of memory (1024 bytes)",
                        2);
    checkTarget(dump.target);
}

int runMemoryDump(const MemoryDump& dump, SignalWatch& signals) {
    checkMemoryDump(dump);
    const auto from = static_cast<std::uint32_t>(parseInteger(dump.from, 0, kMemorySize - 1));
    const std::int64_t count = parseInteger(dump.count, 1, kMemorySize);
    std::FILE* out = stdout;
    if (dump.out) {
        out = std::fopen(dump.out->c_str(), "w");
        if (out == nullptr) throw ToolError("cannot write " + *dump.out, 2);
    }
    ActivePort port(dump.target, signals);
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::string text;
    for (std::int64_t done = 0; done < count;) {
        std::uint8_t line[16] = {};
        const std::uint32_t address = from + static_cast<std::uint32_t>(done);
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(16 - address % 16, count - done));
        progress(terminal, done, count);
        const std::int32_t got = TKAcopyMemory(port.port(), n, address, line);
        if (got != n) {
            const std::string reason = lastFailure();
            clearProgress(terminal);
            std::fputs(text.c_str(), out);
            if (out != stdout) std::fclose(out);
            std::uint8_t word[4] = {};
            std::int32_t status = 255;
            TKAreadMemory(port.port(), (address + static_cast<std::uint32_t>(got > 0 ? got : 0)) & ~3u, word,
                          &status);
            throw ToolError("reading memory at " + std::to_string(address + static_cast<std::uint32_t>(got > 0 ? got : 0)) +
                            " failed (" + memoryStatusWords(status) + "; " + reason + ")");
        }
        text += dumpLine(address, line, static_cast<std::size_t>(n));
        done += n;
    }
    clearProgress(terminal);
    std::fputs(text.c_str(), out);
    if (out != stdout && std::fclose(out) != 0) throw ToolError("cannot write " + *dump.out);
    return 0;
}

void checkMemoryWrite(const std::string& address, const std::vector<std::string>& bytes) {
    const std::int64_t first = parseInteger(address, 0, kMemorySize - 1);
    const std::vector<std::uint8_t> data = parseHexBytes(bytes);
    if (data.empty()) throw ToolError("memory write needs at least one byte", 2);
    if (first + static_cast<std::int64_t>(data.size()) > kMemorySize)
        throw ToolError(std::to_string(data.size()) + " bytes from " + address + " pass the end of memory (1024 bytes)",
                        2);
}

int runMemoryWrite(const Target& target, const std::string& address, const std::vector<std::string>& bytes,
                   bool verify, SignalWatch& signals) {
    checkMemoryWrite(address, bytes);
    checkTarget(target);
    const std::uint32_t first = addressOf(address);
    const std::vector<std::uint8_t> data = parseHexBytes(bytes);
    ActivePort port(target, signals);
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        progress(terminal, static_cast<std::int64_t>(i), static_cast<std::int64_t>(data.size()));
        std::int32_t status = 255;
        const std::uint32_t at = first + static_cast<std::uint32_t>(i);
        if (TKAwriteMemory(port.port(), at, 0, data[i], &status) != 0) {
            const std::string reason = lastFailure();
            clearProgress(terminal);
            throw ToolError("writing memory at " + std::to_string(at) + " failed (" + memoryStatusWords(status) +
                            "; " + reason + "); " + std::to_string(i) + " bytes written before");
        }
    }
    clearProgress(terminal);
    if (verify) verifyWritten(port.port(), first, data);
    std::printf("%zu bytes written from %u%s\n", data.size(), first, verify ? ", read back the same" : "");
    return 0;
}

int runMemoryCheck(const MemoryDump& range, SignalWatch& signals) {
    checkMemoryDump(range);
    const auto from = static_cast<std::uint32_t>(parseInteger(range.from, 0, kMemorySize - 1));
    const auto count = static_cast<std::int32_t>(parseInteger(range.count, 1, kMemorySize));
    ActivePort port(range.target, signals);
    std::vector<std::uint8_t> statuses(static_cast<std::size_t>(count));
    if (TKAcheckMemory(port.port(), count, from, statuses.data()) != count)
        throw ToolError("checking memory from " + std::to_string(from) + " failed (" + lastFailure() + ")");
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

}  // namespace nxtka_cli
