// Splits the amplifier's byte stream into frames: measured values (',' 24-bit
// with status, '&' 16-bit with status, 0xA5 16-bit, '+'/'-' text) and answers
// (';' for the pending command, '$' for the identification request).
//
// Pure logic on a byte buffer: what to do with a frame is the sink's business,
// so the parser is tested on byte vectors and reused by the receive thread.
#pragma once

#include "stream/sample_ring.h"

#include <cstdint>

namespace nxtka {

class FrameSink {
public:
    // The command whose answer is awaited, or kNoCommand.
    virtual int pendingCommand() = 0;
    // Measured values in arrival order: a run of binary frames that followed
    // each other in the buffer, or one text value. True tells the parser to
    // stop and drop the rest of the buffer (an input discard was requested).
    virtual bool storeSamples(const SampleRecord* records, std::uint32_t count) = 0;
    // An answer frame for `code` (the command pending when the frame began):
    // `count` bytes, and the protocol level of a '$' answer, 0 for a ';'
    // answer to the identification request, -1 for other answers.
    virtual void completeAnswer(int code, const std::uint8_t* bytes, int count, int level) = 0;

protected:
    ~FrameSink() = default;
};

// The receive buffer and where its parse stands.
struct RxState {
    std::uint8_t* buffer = nullptr;
    std::uint32_t size = 0;  // capacity of `buffer`
    std::uint32_t kept = 0;  // bytes of an incomplete frame at the start, kept for the next read
    std::uint32_t read = 0;  // bytes in the buffer to parse (kept ones included)
    std::uint32_t want = 0;  // bytes still missing of the incomplete frame; 0: none open
};

// A text frame is short: sign, a few spaces, ten characters, CR, LF. One
// whose first 64 bytes (or the whole buffer, when smaller) hold no line feed
// is given up: it loses its sign, like a text that does not convert, and the
// bytes behind it are parsed as frames of their own.
inline constexpr std::uint32_t kTextFrameBound = 64;

// Parses the `read` bytes at the start of the buffer. Afterwards the bytes of
// an incomplete frame are at the start of the buffer (`kept`) and `want` says
// how many more it needs; kept + want never exceeds the buffer size. A frame
// that cannot fit loses its first byte, which resynchronises the parser.
// What it yields depends only on the bytes, never on how they were split.
void parseFrames(RxState& rx, FrameSink& sink);

// Whether the kept bytes are an incomplete text frame.
bool holdsTextFrame(const RxState& rx);

// Gives up the kept incomplete frame without waiting for more bytes: its
// first byte goes, and the kept bytes behind it are parsed again.
void giveUpKeptFrame(RxState& rx, FrameSink& sink);

// Converts the text of a text frame (sign included, at most 11 characters) to
// a float with the C library's own formatted input ("%f") in the "C" locale,
// so the result does not depend on the application's locale.
bool parseTextValue(const char* text, float& out);

}  // namespace nxtka
