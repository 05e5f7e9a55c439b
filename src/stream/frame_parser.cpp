#include "stream/frame_parser.h"

#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_table.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace nxtka {
namespace {

using namespace cmd;

constexpr std::uint8_t kComma = ',';
constexpr std::uint8_t kAmp = '&';
constexpr std::uint8_t kPlus = '+';
constexpr std::uint8_t kMinus = '-';
constexpr std::uint8_t kSemicolon = ';';
constexpr std::uint8_t kDollar = '$';
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr int kTextChars = 10;  // significant characters after the sign

// Binary value frames in a row are decoded here and handed over in one call.
constexpr std::uint32_t kRunRecords = 256;

std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
std::uint32_t be24(const std::uint8_t* p) { return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]; }

// The length of the complete, valid binary value frame at `p` (decoded into
// `r`), or 0 when none starts there.
inline std::uint32_t decodeBinary(const std::uint8_t* p, std::uint32_t n, SampleRecord& r) {
    switch (p[0]) {
    case kComma:
        if (n < 5) return 0;
        r = SampleRecord{be24(p + 2), p[1], kKind24, 0};
        return 5;
    case kAmp:
        if (n < 4 || (p[1] & 0xE0) != 0xA0) return 0;
        r = SampleRecord{be16(p + 2), static_cast<std::uint8_t>(p[1] & 0x1F), kKind16, 0};
        return 4;
    case kKind16:
        if (n < 3) return 0;
        r = SampleRecord{be16(p + 1), 0, kKind16, 0};
        return 3;
    default:
        return 0;
    }
}

// Outcome of looking at the frame that starts at the first unconsumed byte.
struct Step {
    std::uint32_t consumed;  // bytes used up (0 with `missing` set: incomplete)
    std::uint32_t missing;   // bytes the frame still needs
};

Step incomplete(std::uint32_t missing) { return {0, missing}; }
Step consumed(std::uint32_t n) { return {n, 0}; }

// A text frame: sign, spaces, up to ten characters, anything more, line feed.
// It is judged on its first `bound` bytes alone: without a line feed among
// them it is given up like a text that does not convert, whatever follows.
Step parseText(const std::uint8_t* p, std::uint32_t n, std::uint32_t bound, FrameSink& sink, bool& stop) {
    if (n < 4) return incomplete(4 - n);
    n = std::min(n, bound);
    const auto missingAtEnd = [&] {
        if (n == bound) return consumed(1);
        // Its length is open: a guess of two bytes, one after a carriage
        // return, but never beyond the bound, where it is decided.
        return incomplete(std::min((p[n - 1] & 0x7F) == kCarriageReturn ? 1u : 2u, bound - n));
    };
    std::uint32_t i = 1;
    while (i < n && p[i] == kSpace) ++i;
    if (i == n) return missingAtEnd();

    char text[2 + kTextChars];
    int len = 0;
    text[len++] = static_cast<char>(p[0]);
    while (i < n && p[i] != kLineFeed && len < 1 + kTextChars) {
        text[len++] = static_cast<char>(p[i] & 0x7F);
        ++i;
    }
    if (i < n && p[i] != kLineFeed) {  // characters beyond the tenth
        const void* lf = std::memchr(p + i, kLineFeed, n - i);
        i = lf != nullptr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(lf) - p) : n;
    }
    if (i == n) return missingAtEnd();
    text[len] = '\0';

    float value = 0.0f;
    if (!parseTextValue(text, value)) return consumed(1);
    SampleRecord r{};
    std::memcpy(&r.value, &value, sizeof value);
    r.kind = p[0];
    stop = sink.storeSamples(&r, 1);
    return consumed(i + 1);
}

// Complete binary value frames never get here: the run in parseFrames took them.
Step parseOne(const std::uint8_t* p, std::uint32_t n, std::uint32_t textBound, FrameSink& sink, bool& stop) {
    switch (p[0]) {
    case kComma:
        return incomplete(5 - n);
    case kAmp:
        return n < 4 ? incomplete(4 - n) : consumed(1);  // a status byte without 101 on top
    case kKind16:
        return incomplete(3 - n);
    case kMinus:
    case kPlus:
        return parseText(p, n, textBound, sink, stop);
    case kSemicolon: {
        const int pending = sink.pendingCommand();
        if (pending == kNoCommand) return consumed(1);
        const int a = answerBytesOf(pending);
        const std::uint32_t need = 1 + static_cast<std::uint32_t>(a > 0 ? a : 0);
        if (n < need) return incomplete(need - n);
        sink.completeAnswer(pending, p + 1, static_cast<int>(need - 1), pending == kIdentify ? 0 : -1);
        return consumed(need);
    }
    case kDollar: {
        if (sink.pendingCommand() != kIdentify) return consumed(1);
        const std::uint32_t a = static_cast<std::uint32_t>(answerBytesOf(kIdentify));
        if (n < a + 2) return incomplete(a + 2 - n);
        sink.completeAnswer(kIdentify, p + 1, static_cast<int>(a), p[a + 1]);
        return consumed(a + 2);
    }
    default:
        return consumed(1);
    }
}

}  // namespace

bool parseTextValue(const char* text, float& out) { return platform::scanFloat(text, out); }

void parseFrames(RxState& rx, FrameSink& sink) {
    rx.want = 0;
    const std::uint32_t textBound = std::min(kTextFrameBound, rx.size);
    std::uint32_t pos = 0;
    std::uint32_t left = rx.read;
    SampleRecord run[kRunRecords];
    while (left != 0) {
        std::uint32_t count = 0;
        for (std::uint32_t len; count < kRunRecords && left != 0 &&
                                (len = decodeBinary(rx.buffer + pos, left, run[count])) != 0;) {
            ++count;
            pos += len;
            left -= len;
        }
        bool stop = false;
        if (count != 0) {
            if (sink.storeSamples(run, count)) {
                rx.kept = 0;
                rx.want = 0;
                return;
            }
            continue;
        }
        const Step s = parseOne(rx.buffer + pos, left, textBound, sink, stop);
        if (stop) {
            rx.kept = 0;
            rx.want = 0;
            return;
        }
        if (s.consumed == 0) {
            // A frame that cannot fit gives up its first byte and the parser
            // resynchronises. (A text frame is decided within its bound,
            // which the buffer always holds.)
            if (left + s.missing > rx.size) {
                ++pos;
                --left;
                continue;
            }
            if (pos != 0) std::memmove(rx.buffer, rx.buffer + pos, left);
            rx.kept = left;
            rx.want = s.missing;
            return;
        }
        pos += s.consumed;
        left -= s.consumed;
    }
    rx.kept = 0;
}

bool holdsTextFrame(const RxState& rx) {
    return rx.kept != 0 && (rx.buffer[0] == kPlus || rx.buffer[0] == kMinus);
}

void giveUpKeptFrame(RxState& rx, FrameSink& sink) {
    if (rx.kept == 0) return;
    rx.read = rx.kept - 1;
    std::memmove(rx.buffer, rx.buffer + 1, rx.read);
    rx.kept = 0;
    parseFrames(rx, sink);
}

}  // namespace nxtka
