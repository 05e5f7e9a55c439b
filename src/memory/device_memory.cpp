#include "memory/device_memory.h"

#include "core/codecs.h"
#include "core/command_list.h"
#include "core/export_forms.h"
#include "nxtka.h"

#include <cstdlib>
#include <cstring>

namespace nxtka {
namespace {

constexpr std::uint32_t kRetryPauseMs = 250;
constexpr int kAttempts = 3;

void setStatus(std::int32_t* status, std::int32_t code) {
    if (status != nullptr) *status = code;
}

// A status byte's outcome: the code to the caller, 0 or -1.
std::int32_t judge(std::uint32_t statusByte, std::int32_t* status) {
    const codec::MemoryStatus m = codec::memoryStatus(statusByte);
    setStatus(status, m.code);
    return m.ok ? 0 : -1;
}

bool retried(std::int32_t status) { return status == memory::kNoAnswer || status == memory::kUnknownAnswer; }

template <class Step>
std::int32_t withRetries(std::uint32_t firstDelayMs, std::int32_t* status, Step step) {
    std::int32_t result = -1;
    std::int32_t code = memory::kNoAnswer;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        waitMilliseconds(attempt == 0 ? firstDelayMs : kRetryPauseMs);
        result = step(&code);
        if (!retried(code)) break;
    }
    setStatus(status, code);
    return result;
}

// |length| and the end of the range, in 64 bits; refused when the range
// passes the 32-bit address space.
bool rangeOf(std::int32_t length, std::uint32_t address, std::int64_t& count) {
    count = std::llabs(static_cast<std::int64_t>(length));
    return static_cast<std::int64_t>(address) + count <= std::int64_t{0xFFFFFFFF} + 1;
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

bool settlingMs(unsigned port, std::uint32_t& ms) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        waitMilliseconds(attempt == 0 ? 0 : kRetryPauseMs);
        const double seconds = TKAgetMemoryWait(port);
        if (seconds >= 0.0) {
            ms = codec::settlingMilliseconds(seconds);
            return true;
        }
    }
    return false;
}

std::int32_t readRetry(unsigned port, std::uint32_t firstDelayMs, std::uint32_t address, std::uint8_t* data,
                       std::int32_t* status) {
    return withRetries(firstDelayMs, status,
                       [&](std::int32_t* code) { return TKAreadMemory(port, address, data, code); });
}

std::int32_t writeRetry(unsigned port, std::uint32_t firstDelayMs, std::uint32_t address, bool flag,
                        std::uint8_t data, std::int32_t* status) {
    return withRetries(firstDelayMs, status, [&](std::int32_t* code) {
        return TKAwriteMemory(port, address, flag ? 1 : 0, data, code);
    });
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
        const std::int32_t result = judge(answer[4], status);
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
        return judge(answer, status);
    });
}

NXTKA_API double NXTKA_CALL TKAgetMemoryWait(uint32_t port) {
    return guardedQuery(port, cmd::kGetMemoryWait,
                        [](PortSession&, std::uint32_t w) { return codec::memoryWaitSeconds(w); });
}

NXTKA_API int32_t NXTKA_CALL TKAcopyMemory(uint32_t port, int32_t length, uint32_t address, uint8_t* buffer) {
    std::int64_t count = 0;
    if (buffer == nullptr || address >= memory::kSize || length == INT32_MIN || !rangeOf(length, address, count))
        return refuseArgument("null buffer, or a range beyond 2^32");
    return underGuard(port, [&](PortSession&) -> std::int32_t {
        if (length == 0) return 0;
        std::uint32_t settle = 0;
        if (!memory::settlingMs(port, settle)) return -1;
        std::int64_t moved = 0;
        bool failedFirst = false;
        if (length < 0) {
            for (std::int64_t k = 0; k < count; ++k) {
                const auto at = static_cast<std::uint32_t>(address + k);
                if (memory::writeRetry(port, settle, at, false, buffer[k], nullptr) != 0) break;
                ++moved;
            }
            failedFirst = moved == 0;
        } else {
            walkWords(address, count, [&](std::uint32_t word, std::uint32_t first, std::int64_t n, std::int64_t at) {
                std::uint8_t local[4];
                const bool whole = n == 4;
                if (memory::readRetry(port, settle, word, whole ? buffer + at : local, nullptr) != 0) {
                    failedFirst = first != 0;  // the leading partial word
                    return false;
                }
                if (!whole) std::memcpy(buffer + at, local + first, static_cast<std::size_t>(n));
                moved += n;
                return true;
            });
        }
        waitMilliseconds(settle);
        return failedFirst ? -1 : static_cast<std::int32_t>(moved);
    });
}

NXTKA_API int32_t NXTKA_CALL TKAcheckMemory(uint32_t port, int32_t length, uint32_t address, uint8_t* buffer) {
    const std::int64_t count = std::llabs(static_cast<std::int64_t>(length));
    if (address >= memory::kSize || address + count > memory::kSize || buffer == nullptr) {
        return refuseArgument("range beyond memory, or null buffer");
    }
    return underGuard(port, [&](PortSession&) -> std::int32_t {
        if (length == 0) return 0;
        std::uint32_t settle = 0;
        if (!memory::settlingMs(port, settle)) return -1;
        if (length < 0) {
            for (std::int64_t k = 0; k < count; ++k) {
                std::int32_t code = memory::kNoAnswer;
                memory::writeRetry(port, settle, static_cast<std::uint32_t>(address + k), true, buffer[k], &code);
                buffer[k] = static_cast<std::uint8_t>(code);
            }
        } else {
            walkWords(address, count, [&](std::uint32_t word, std::uint32_t, std::int64_t n, std::int64_t at) {
                std::uint8_t local[4];
                std::int32_t code = memory::kNoAnswer;
                memory::readRetry(port, settle, word, local, &code);
                std::memset(buffer + at, static_cast<std::uint8_t>(code), static_cast<std::size_t>(n));
                return true;
            });
        }
        waitMilliseconds(settle);
        return static_cast<std::int32_t>(count);
    });
}
