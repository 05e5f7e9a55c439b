#include "stream/frame_parser.h"

#include "core/command_codes.h"
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

std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
std::uint32_t be24(const std::uint8_t* p) { return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]; }

// Outcome of looking at the frame that starts at the first unconsumed byte.
struct Step {
    std::uint32_t consumed;  // bytes used up (0 with `missing` set: incomplete)
    std::uint32_t missing;   // bytes the frame still needs
    bool open = false;       // a text frame: `missing` is a guess, its length unknown
};

Step incomplete(std::uint32_t missing) { return {0, missing}; }
Step incompleteText(std::uint32_t missing) { return {0, missing, true}; }
Step consumed(std::uint32_t n) { return {n, 0}; }

// A text frame: sign, spaces, up to ten characters, anything more, line feed.
Step parseText(const std::uint8_t* p, std::uint32_t n, FrameSink& sink, bool& stop) {
    if (n < 4) return incomplete(4 - n);
    const auto missingAtEnd = [&] {
        return incompleteText((p[n - 1] & 0x7F) == kCarriageReturn ? 1u : 2u);
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
    while (i < n && p[i] != kLineFeed) ++i;  // characters beyond the tenth
    if (i == n) return missingAtEnd();
    text[len] = '\0';

    float value = 0.0f;
    if (!parseTextValue(text, value)) return consumed(1);
    SampleRecord r{};
    std::memcpy(&r.value, &value, sizeof value);
    r.kind = p[0];
    stop = sink.storeSample(r);
    return consumed(i + 1);
}

Step parseOne(const std::uint8_t* p, std::uint32_t n, FrameSink& sink, bool& stop) {
    switch (p[0]) {
    case kComma: {
        if (n < 5) return incomplete(5 - n);
        stop = sink.storeSample(SampleRecord{be24(p + 2), p[1], kKind24, 0});
        return consumed(5);
    }
    case kAmp: {
        if (n < 4) return incomplete(4 - n);
        if ((p[1] & 0xE0) != 0xA0) return consumed(1);
        stop = sink.storeSample(SampleRecord{be16(p + 2), static_cast<std::uint8_t>(p[1] & 0x1F), kKind16, 0});
        return consumed(4);
    }
    case kKind16: {
        if (n < 3) return incomplete(3 - n);
        stop = sink.storeSample(SampleRecord{be16(p + 1), 0, kKind16, 0});
        return consumed(3);
    }
    case kMinus:
    case kPlus:
        return parseText(p, n, sink, stop);
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
    std::uint32_t pos = 0;
    std::uint32_t left = rx.read;
    while (left != 0) {
        bool stop = false;
        const Step s = parseOne(rx.buffer + pos, left, sink, stop);
        if (stop) {
            rx.kept = 0;
            rx.want = 0;
            return;
        }
        if (s.consumed == 0) {
            // A frame that cannot fit gives up its first byte and the parser
            // resynchronises. A text frame's length is open (one line feed
            // may end it), so it gives up only once it fills the buffer: how
            // the stream was split never changes what it yields.
            if (s.open ? left == rx.size : left + s.missing > rx.size) {
                ++pos;
                --left;
                continue;
            }
            if (pos != 0) std::memmove(rx.buffer, rx.buffer + pos, left);
            rx.kept = left;
            rx.want = std::min(s.missing, rx.size - left);
            return;
        }
        pos += s.consumed;
        left -= s.consumed;
    }
    rx.kept = 0;
}

}  // namespace nxtka
