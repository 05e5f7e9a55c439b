#include "memory/device_memory.h"

#include "core/codecs.h"
#include "core/command_list.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "nxtka.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace nxtka {
namespace {

constexpr std::uint32_t kRetryPauseMs = 250;
constexpr std::uint32_t kPauseStepMs = 20;  // how soon a pause notices a failed line
constexpr int kAttempts = 3;

void setStatus(std::int32_t* status, std::int32_t code) {
    if (status != nullptr) *status = code;
}

// A status byte's outcome: the code to the caller, 0 or -1. A failure is the
// amplifier's answer, recorded in words as the reason.
std::int32_t judge(std::uint32_t statusByte, const char* step, std::uint32_t address, std::int32_t* status) {
    const codec::MemoryStatus m = codec::memoryStatus(statusByte);
    setStatus(status, m.code);
    if (m.ok) return 0;
    char text[96];
    if ((statusByte & 0xF0) == 0x50) {
        std::snprintf(text, sizeof text, "status %d (a failure, byte 0x%02X) %s memory at %u", m.code,
                      statusByte & 0xFF, step, address);
    } else {
        std::snprintf(text, sizeof text, "byte 0x%02X, no memory status (status %d), %s memory at %u",
                      statusByte & 0xFF, m.code, step, address);
    }
    recordFailure(Failure::Answer, text);
    return -1;
}

bool retried(std::int32_t status) { return status == memory::kNoAnswer || status == memory::kUnknownAnswer; }

// No step at all once the line has failed: the status stays "no answer".
template <class Step>
std::int32_t withRetries(const PortSession& s, std::uint32_t firstDelayMs, std::int32_t* status, Step step) {
    std::int32_t result = -1;
    std::int32_t code = memory::kNoAnswer;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        memory::pause(s, attempt == 0 ? firstDelayMs : kRetryPauseMs);
        if (memory::lineFailed(s)) break;
        result = step(&code);
        if (!retried(code)) break;
    }
    setStatus(status, code);
    return result;
}

// The end of the range, in 64 bits, passes the 32-bit address space.
bool beyondAddresses(std::int32_t length, std::uint32_t address) {
    return static_cast<std::int64_t>(address) + std::llabs(static_cast<std::int64_t>(length)) >
           std::int64_t{0xFFFFFFFF} + 1;
}

// The range passes the end of the memory.
bool beyondMemory(std::int32_t length, std::uint32_t address) {
    return address >= memory::kSize || address + std::llabs(static_cast<std::int64_t>(length)) > memory::kSize;
}

// The words that cover count bytes from address: a leading partial word,
// whole words, a trailing partial word. visit(wordAddress, firstByte,
// bytes, bufferOffset) returns false to stop.
template <class Visit>
void walkWords(std::uint32_t address, std::int64_t count, Visit visit) {
    std::uint32_t word = address & ~3u;  // never wraps to the start of memory
    std::int64_t done = 0;
    const std::uint32_t offset = address & 3u;
    if (offset != 0 && count > 0) {
        const std::int64_t n = std::min<std::int64_t>(4 - offset, count);
        if (!visit(word, offset, n, done)) return;
        done += n;
        word += 4;
    }
    while (count - done >= 4) {
        if (!visit(word, 0, 4, done)) return;
        done += 4;
        word += 4;
    }
    if (count - done > 0) visit(word, 0, count - done, done);
}

}  // namespace

namespace memory {

bool lineFailed(const PortSession& s) { return s.commError.load() != 0; }

std::int32_t lineFailure(const PortSession& s) {
    recordDeviceFailure("device failed while reading", s.commError.load());
    return -1;
}

void pause(const PortSession& s, std::uint32_t ms) {
    const std::uint32_t start = platform::tickCount();
    std::uint32_t elapsed = 0;
    do {
        if (lineFailed(s)) return;
        waitMilliseconds(std::min(ms - elapsed, kPauseStepMs));
        elapsed = platform::tickCount() - start;
    } while (elapsed <= ms);
}

bool settlingMs(PortSession& s, std::uint32_t& ms) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        pause(s, attempt == 0 ? 0 : kRetryPauseMs);
        if (lineFailed(s)) {
            lineFailure(s);
            return false;
        }
        const double seconds = TKAgetMemoryWait(s.portNumber);
        if (seconds >= 0.0) {
            ms = codec::settlingMilliseconds(seconds);
            return true;
        }
    }
    return false;
}

std::int32_t readRetry(PortSession& s, std::uint32_t firstDelayMs, std::uint32_t address, std::uint8_t* data,
                       std::int32_t* status) {
    return withRetries(s, firstDelayMs, status,
                       [&](std::int32_t* code) { return TKAreadMemory(s.portNumber, address, data, code); });
}

std::int32_t writeRetry(PortSession& s, std::uint32_t firstDelayMs, std::uint32_t address, bool flag,
                        std::uint8_t data, std::int32_t* status) {
    return withRetries(s, firstDelayMs, status, [&](std::int32_t* code) {
        return TKAwriteMemory(s.portNumber, address, flag ? 1 : 0, data, code);
    });
}

std::int32_t writeBlock(PortSession& s, std::uint32_t settleMs, std::uint32_t address, const std::uint8_t* bytes,
                        std::int64_t count) {
    std::int64_t moved = 0;
    while (moved < count) {
        const auto at = static_cast<std::uint32_t>(address + moved);
        if (writeRetry(s, settleMs, at, false, bytes[moved], nullptr) != 0) break;
        ++moved;
    }
    return count > 0 && moved == 0 ? -1 : static_cast<std::int32_t>(moved);
}

std::int32_t readBlock(PortSession& s, std::uint32_t settleMs, std::uint32_t address, std::uint8_t* buffer,
                       std::int64_t count) {
    std::int64_t moved = 0;
    bool failedFirst = false;
    walkWords(address, count, [&](std::uint32_t word, std::uint32_t first, std::int64_t n, std::int64_t at) {
        std::uint8_t local[4];
        const bool whole = n == 4;
        if (readRetry(s, settleMs, word, whole ? buffer + at : local, nullptr) != 0) {
            failedFirst = first != 0;  // the leading partial word
            return false;
        }
        if (!whole) std::memcpy(buffer + at, local + first, static_cast<std::size_t>(n));
        moved += n;
        return true;
    });
    return failedFirst ? -1 : static_cast<std::int32_t>(moved);
}

bool readsBackAs(PortSession& s, std::uint32_t settleMs, std::uint32_t address, const std::uint8_t* expected,
                 std::uint32_t count, std::uint32_t& firstDifference) {
    std::vector<std::uint8_t> back(count);
    const std::int32_t read = readBlock(s, settleMs, address, back.data(), count);
    const auto readable = static_cast<std::uint32_t>(std::max(read, 0));
    const auto differ = std::mismatch(expected, expected + readable, back.begin());
    const auto first = static_cast<std::uint32_t>(differ.first - expected);
    if (first == count) return true;
    firstDifference = address + first;
    if (first < readable) {
        char text[96];
        std::snprintf(text, sizeof text, "address %u holds 0x%02X, 0x%02X was written", firstDifference,
                      back[first], expected[first]);
        recordFailure(Failure::Answer, text);
    } else if (lineFailed(s)) {
        lineFailure(s);
    }
    return false;
}

}  // namespace memory
}  // namespace nxtka

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAreadMemory(uint32_t port, uint32_t address, uint8_t* data, int32_t* status) {
    setStatus(status, memory::kNoAnswer);
    if (address >= memory::kSize || address % 4 != 0 || data == nullptr) {
        return refuseArgument("address not a word in memory, or null data");
    }
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        std::uint8_t answer[8] = {};
        if (!requestAnswer(s, cmd::kReadMemory, CommandParam::of(address / 4), answer, kAnswerTimeoutMs))
            return -1;
        const std::int32_t result = judge(answer[4], "reading", address, status);
        if (result == 0) std::memcpy(data, answer, 4);
        return result;
    });
}

NXTKA_API int32_t NXTKA_CALL TKAwriteMemory(uint32_t port, uint32_t address, int32_t flag, int32_t data,
                                            int32_t* status) {
    setStatus(status, memory::kNoAnswer);
    if (address >= memory::kSize) return refuseArgument("address beyond memory");
    const std::uint32_t p1 = ((address >> 8) & 3u) | (flag != 0 ? 0x80u : 0u);
    const std::uint32_t params = (p1 << 16) | ((address & 0xFFu) << 8) | (static_cast<std::uint32_t>(data) & 0xFFu);
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        std::uint32_t answer = 0;
        if (!requestValue(s, cmd::kWriteMemory, CommandParam::of(params), answer)) return -1;
        return judge(answer, "writing", address, status);
    });
}

NXTKA_API double NXTKA_CALL TKAgetMemoryWait(uint32_t port) {
    return guardedQuery(port, cmd::kGetMemoryWait,
                        [](PortSession&, std::uint32_t w) { return codec::memoryWaitSeconds(w); });
}

NXTKA_API int32_t NXTKA_CALL TKAcopyMemory(uint32_t port, int32_t length, uint32_t address, uint8_t* buffer) {
    if (buffer == nullptr || address >= memory::kSize || length == INT32_MIN || beyondAddresses(length, address))
        return refuseArgument("null buffer, or a range beyond 2^32");
    return memory::transfer(port, length, [&](PortSession& s, std::uint32_t settle, std::int64_t count) {
        const std::int32_t moved = length < 0 ? memory::writeBlock(s, settle, address, buffer, count)
                                              : memory::readBlock(s, settle, address, buffer, count);
        return memory::Transferred{moved, moved < count};
    });
}

NXTKA_API int32_t NXTKA_CALL TKAcheckMemory(uint32_t port, int32_t length, uint32_t address, uint8_t* buffer) {
    if (beyondMemory(length, address) || buffer == nullptr) return refuseArgument("range beyond memory, or null buffer");
    return memory::transfer(port, length, [&](PortSession& s, std::uint32_t settle, std::int64_t count) {
        bool unanswered = false;
        if (length < 0) {
            for (std::int64_t k = 0; k < count; ++k) {
                std::int32_t code = memory::kNoAnswer;
                memory::writeRetry(s, settle, static_cast<std::uint32_t>(address + k), true, buffer[k], &code);
                buffer[k] = static_cast<std::uint8_t>(code);
                unanswered = unanswered || code == memory::kNoAnswer;
            }
        } else {
            walkWords(address, count, [&](std::uint32_t word, std::uint32_t, std::int64_t n, std::int64_t at) {
                std::uint8_t local[4];
                std::int32_t code = memory::kNoAnswer;
                memory::readRetry(s, settle, word, local, &code);
                std::memset(buffer + at, static_cast<std::uint8_t>(code), static_cast<std::size_t>(n));
                unanswered = unanswered || code == memory::kNoAnswer;
                return true;
            });
        }
        return memory::Transferred{static_cast<std::int32_t>(count), unanswered};
    });
}
