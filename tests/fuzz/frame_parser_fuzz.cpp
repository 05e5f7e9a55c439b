// The frame parser on an arbitrary byte stream with any pending command. The
// stream is fed twice through a receive buffer of a size the input chooses:
// once in the largest pieces that fit, once at split points the input
// chooses. Both must give exactly the events of a reference walk over the
// whole stream, written here from the frame formats, and leave the same
// unconsumed bytes. After every piece the buffer state must be sound.
//
// Then the line goes quiet: giving up every text frame left open must give
// the events of the reference walk that drops such a frame's sign.
//
// A third feed requests an input discard at the k-th record and must see the
// parse stop there.
//
// Input: pending command, buffer size, flags (bit 0: pieces of at least the
// missing bytes; bits 1-4: split lengths - 1; bits 5-7: k), split lengths,
// stream.
#include "core/command_table.h"
#include "fuzz_input.h"
#include "stream/frame_parser.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace nxtka;

constexpr int kIdentifyCode = 42;

// What the parser hands over: a record, an answer, or a command without
// answer bytes completed by a value frame.
struct Event {
    enum Kind { Record, Answer, CompletedByValue } kind;
    std::uint32_t value = 0;
    std::uint8_t status = 0;
    std::uint8_t recordKind = 0;
    int code = 0;
    int level = 0;
    std::vector<std::uint8_t> bytes;

    bool operator==(const Event&) const = default;
};

// Keeps the pending command as the session does: an answer or, for a
// command without answer bytes, the next value frame completes it.
class Sink final : public FrameSink {
public:
    explicit Sink(int pending) : pending_(pending) {}

    int pendingCommand() override { return pending_; }
    // A run of records; an input discard requested at the k-th record drops
    // the rest of the run, as the session's sink does.
    bool storeSamples(const SampleRecord* run, std::uint32_t count) override {
        FUZZ_CHECK(count > 0);
        if (pending_ != kNoCommand && answerBytesOf(pending_) == 0) {
            events.push_back({Event::CompletedByValue, 0, 0, 0, pending_, 0, {}});
            pending_ = kNoCommand;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const SampleRecord& r = run[i];
            events.push_back({Event::Record, r.value, r.status, r.kind, 0, 0, {}});
            ++records_;
            stopped = records_ == stopAfter;  // an input discard was requested meanwhile
            if (stopped) return true;
        }
        return false;
    }
    bool storeSample(const SampleRecord& r) { return storeSamples(&r, 1); }
    void completeAnswer(int code, const std::uint8_t* bytes, int count, int level) override {
        FUZZ_CHECK(pending_ != kNoCommand && code == pending_);
        FUZZ_CHECK(count >= 0 && count <= 8);
        events.push_back({Event::Answer, 0, 0, 0, code, level, std::vector<std::uint8_t>(bytes, bytes + count)});
        pending_ = kNoCommand;
    }

    std::vector<Event> events;
    int stopAfter = -1;
    bool stopped = false;

private:
    int pending_;
    int records_ = 0;
};

// ---------------------------------------------------------------- reference walk

struct Look {
    enum Kind { Complete, DropOne, Incomplete } kind;
    std::uint32_t length = 0;   // Complete: bytes of the frame
    std::uint32_t missing = 0;  // Incomplete: bytes asked for next
    bool open = false;          // Incomplete: a text frame, whose length is unknown
};

std::uint32_t big(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// The frame at p with n bytes available, as the frame formats define it.
Look lookAt(const std::uint8_t* p, std::uint32_t n, Sink& sink) {
    switch (p[0]) {
    case ',':
        if (n < 5) return {Look::Incomplete, 0, 5 - n};
        sink.storeSample(SampleRecord{big(p + 2, 3), p[1], ',', 0});
        return {Look::Complete, 5, 0};
    case '&':
        if (n < 4) return {Look::Incomplete, 0, 4 - n};
        if ((p[1] & 0xE0) != 0xA0) return {Look::DropOne, 0, 0};
        sink.storeSample(SampleRecord{big(p + 2, 2), static_cast<std::uint8_t>(p[1] & 0x1F), 0xA5, 0});
        return {Look::Complete, 4, 0};
    case 0xA5:
        if (n < 3) return {Look::Incomplete, 0, 3 - n};
        sink.storeSample(SampleRecord{big(p + 1, 2), 0, 0xA5, 0});
        return {Look::Complete, 3, 0};
    case '+':
    case '-': {
        if (n < 4) return {Look::Incomplete, 0, 4 - n};
        const Look open{Look::Incomplete, 0, (p[n - 1] & 0x7F) == 0x0D ? 1u : 2u, true};
        std::uint32_t i = 1;
        while (i < n && p[i] == ' ') ++i;
        if (i == n) return open;
        char text[12] = {static_cast<char>(p[0])};
        int copied = 0;
        for (; i < n && p[i] != '\n' && copied < 10; ++i) text[1 + copied++] = static_cast<char>(p[i] & 0x7F);
        while (i < n && p[i] != '\n') ++i;
        if (i == n) return open;
        float f = 0.0f;
        if (std::sscanf(text, "%f", &f) != 1) return {Look::DropOne, 0, 0};
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        sink.storeSample(SampleRecord{bits, 0, p[0], 0});
        return {Look::Complete, i + 1, 0};
    }
    case ';': {
        const int pending = sink.pendingCommand();
        if (pending == kNoCommand) return {Look::DropOne, 0, 0};
        const auto a = static_cast<std::uint32_t>(answerBytesOf(pending));
        if (n < a + 1) return {Look::Incomplete, 0, a + 1 - n};
        sink.completeAnswer(pending, p + 1, static_cast<int>(a), pending == kIdentifyCode ? 0 : -1);
        return {Look::Complete, a + 1, 0};
    }
    case '$': {
        if (sink.pendingCommand() != kIdentifyCode) return {Look::DropOne, 0, 0};
        const auto a = static_cast<std::uint32_t>(answerBytesOf(kIdentifyCode));
        if (n < a + 2) return {Look::Incomplete, 0, a + 2 - n};
        sink.completeAnswer(kIdentifyCode, p + 1, static_cast<int>(a), p[a + 1]);
        return {Look::Complete, a + 2, 0};
    }
    default:
        return {Look::DropOne, 0, 0};
    }
}

struct Reference {
    std::uint32_t stop = 0;  // start of the bytes left unconsumed
    std::uint32_t want = 0;  // bytes asked for next
};

// A frame is judged on at most `size` bytes from its start, all a receive
// buffer can hold, and a text frame on at most 64 (a real one is under 20).
// A frame of known length that cannot fit loses its first byte at once; a
// text frame still open at its limit loses it then, so that where the stream
// was split never matters. On a quiet line (`quiet`: nothing follows the
// stream) a text frame left incomplete at its end loses its sign too.
Reference walk(const std::uint8_t* s, std::uint32_t n, std::uint32_t size, Sink& sink, bool quiet = false) {
    const std::uint32_t textLimit = std::min<std::uint32_t>(64, size);
    std::uint32_t p = 0;
    while (p < n) {
        const bool text = s[p] == '+' || s[p] == '-';
        const std::uint32_t limit = text ? textLimit : size;
        const std::uint32_t avail = std::min(n - p, limit);
        const Look l = lookAt(s + p, avail, sink);
        if (l.kind == Look::Complete) {
            p += l.length;
        } else if (l.kind == Look::DropOne || (l.open ? avail == limit : avail + l.missing > size) || (quiet && text)) {
            p += 1;
        } else {
            return {p, l.open ? std::min(l.missing, limit - avail) : l.missing};
        }
    }
    return {n, 0};
}

// ---------------------------------------------------------------- feeding

class Feeder {
public:
    Feeder(std::uint32_t size, int pending, const std::uint8_t* stream, std::uint32_t n)
        : sink(pending), buffer_(size), stream_(stream), n_(n) {
        rx_.buffer = buffer_.data();
        rx_.size = size;
    }

    std::uint32_t room() const { return rx_.size - rx_.kept; }
    std::uint32_t want() const { return rx_.want; }
    std::uint32_t left() const { return n_ - fed_; }

    // One read of `count` bytes, appended behind the kept ones as the receive
    // thread does it.
    void deliver(std::uint32_t count) {
        FUZZ_CHECK(count >= 1 && count <= room() && count <= left());
        std::memcpy(buffer_.data() + rx_.kept, stream_ + fed_, count);
        fed_ += count;
        rx_.read = rx_.kept + count;
        rx_.kept = 0;
        parseFrames(rx_, sink);
        FUZZ_CHECK(rx_.kept < rx_.size);
        FUZZ_CHECK(rx_.kept + rx_.want <= rx_.size);
        FUZZ_CHECK((rx_.kept == 0) == (rx_.want == 0));
        // The kept bytes are the newest ones, unchanged.
        FUZZ_CHECK(rx_.kept <= fed_);
        FUZZ_CHECK(std::memcmp(buffer_.data(), stream_ + fed_ - rx_.kept, rx_.kept) == 0);
    }

    std::uint32_t kept() const { return rx_.kept; }

    // A quiet line: every text frame left incomplete is given up in turn.
    void giveUpTextFrames() {
        while (holdsTextFrame(rx_)) {
            const std::uint32_t before = rx_.kept;
            giveUpKeptFrame(rx_, sink);
            FUZZ_CHECK(rx_.kept < before);
            FUZZ_CHECK(rx_.kept + rx_.want <= rx_.size);
            FUZZ_CHECK((rx_.kept == 0) == (rx_.want == 0));
            FUZZ_CHECK(std::memcmp(buffer_.data(), stream_ + fed_ - rx_.kept, rx_.kept) == 0);
        }
    }

    Sink sink;

private:
    std::vector<std::uint8_t> buffer_;
    RxState rx_;
    const std::uint8_t* stream_;
    std::uint32_t n_;
    std::uint32_t fed_ = 0;
};

// A defined command or none; undefined codes are never sent.
int pendingFrom(std::uint8_t b) {
    const int code = b % kCommandCount;
    return isDefinedCommand(code) ? code : kNoCommand;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int pending = pendingFrom(in.byte());
    const std::uint8_t sizeByte = in.byte();
    const std::uint32_t bufferSize = (sizeByte & 0x80) != 0 ? 32768u : 1u + (sizeByte & 0x7F);
    const std::uint8_t flags = in.byte();
    const bool atLeastWant = (flags & 1) != 0;  // as a read that waits for the missing bytes
    std::vector<std::uint32_t> splits(1u + ((flags >> 1) & 0x0F));
    for (std::uint32_t& s : splits) s = std::max<std::uint32_t>(in.byte(), 1);
    const std::uint8_t* stream = in.rest();
    const auto n = static_cast<std::uint32_t>(in.left());

    Sink expected(pending);
    const Reference ref = walk(stream, n, bufferSize, expected);

    Feeder whole(bufferSize, pending, stream, n);
    while (whole.left() != 0) whole.deliver(std::min(whole.room(), whole.left()));

    Feeder pieces(bufferSize, pending, stream, n);
    for (std::size_t i = 0; pieces.left() != 0; ++i) {
        std::uint32_t count = splits[i % splits.size()];
        if (atLeastWant) count = std::max(count, pieces.want());
        pieces.deliver(std::min({count, pieces.room(), pieces.left()}));
    }

    for (const Feeder* f : {&whole, &pieces}) {
        FUZZ_CHECK(f->sink.events == expected.events);
        FUZZ_CHECK(f->kept() == n - ref.stop);
        FUZZ_CHECK(f->want() == ref.want);
    }

    // The line goes quiet: text frames still open are given up.
    Sink quietExpected(pending);
    const Reference quietRef = walk(stream, n, bufferSize, quietExpected, true);
    for (Feeder* f : {&whole, &pieces}) {
        f->giveUpTextFrames();
        FUZZ_CHECK(f->sink.events == quietExpected.events);
        FUZZ_CHECK(f->kept() == n - quietRef.stop);
        FUZZ_CHECK(f->want() == quietRef.want);
    }

    // A discard requested at the k-th record: the parse stops right behind
    // it and drops the rest of the buffer.
    const int discardAt = flags >> 5;
    if (discardAt == 0) return 0;
    Feeder discarding(bufferSize, pending, stream, n);
    discarding.sink.stopAfter = discardAt;
    for (std::size_t i = 0; discarding.left() != 0 && !discarding.sink.stopped; ++i)
        discarding.deliver(std::min({splits[i % splits.size()], discarding.room(), discarding.left()}));
    const std::vector<Event>& got = discarding.sink.events;
    FUZZ_CHECK(got.size() <= expected.events.size());
    FUZZ_CHECK(std::equal(got.begin(), got.end(), expected.events.begin()));
    if (discarding.sink.stopped) {
        FUZZ_CHECK(got.back().kind == Event::Record);
        FUZZ_CHECK(discarding.kept() == 0 && discarding.want() == 0);
    }
    return 0;
}
