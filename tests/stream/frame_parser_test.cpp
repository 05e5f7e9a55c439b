// The frame parser on byte vectors: every frame kind, deliveries split at
// every byte, resynchronisation, and the bounded receive buffer.
#include "core/command_table.h"
#include "stream/frame_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace nxtka {
namespace {

struct Answer {
    int code;
    std::vector<std::uint8_t> bytes;
    int level;
};

class RecordingSink final : public FrameSink {
public:
    int pending = kNoCommand;
    int discardAfter = -1;  // stores at most this many records, then asks to stop
    std::vector<SampleRecord> records;
    std::vector<Answer> answers;

    int pendingCommand() override { return pending; }
    bool storeSamples(const SampleRecord* r, std::uint32_t n) override {
        ++calls;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (discardAfter >= 0 && static_cast<int>(records.size()) >= discardAfter) return true;
            records.push_back(r[i]);
        }
        return discardAfter >= 0 && static_cast<int>(records.size()) >= discardAfter;
    }
    int calls = 0;
    void completeAnswer(int code, const std::uint8_t* b, int n, int level) override {
        answers.push_back({code, std::vector<std::uint8_t>(b, b + n), level});
        pending = kNoCommand;
    }
};

// Feeds bytes the way the receive thread does: each delivery is appended
// behind the kept bytes of an incomplete frame. Records how many bytes each
// parse asked for next.
class Feeder {
public:
    explicit Feeder(std::uint32_t size = 32768) : buf_(size) { rx_.buffer = buf_.data(); rx_.size = size; }

    void deliver(const std::vector<std::uint8_t>& bytes, RecordingSink& sink) {
        ASSERT_LE(rx_.kept + bytes.size(), rx_.size);
        std::memcpy(buf_.data() + rx_.kept, bytes.data(), bytes.size());
        rx_.read = rx_.kept + static_cast<std::uint32_t>(bytes.size());
        rx_.kept = 0;
        parseFrames(rx_, sink);
        wants.push_back(rx_.want);
        ASSERT_LE(rx_.kept + rx_.want, rx_.size);
    }
    void deliverByteByByte(const std::vector<std::uint8_t>& bytes, RecordingSink& sink) {
        for (std::uint8_t b : bytes) deliver({b}, sink);
    }
    const RxState& rx() const { return rx_; }
    std::vector<std::uint32_t> wants;

private:
    std::vector<std::uint8_t> buf_;
    RxState rx_;
};

float floatOf(const SampleRecord& r) {
    float f;
    std::memcpy(&f, &r.value, sizeof f);
    return f;
}

TEST(FrameParser, BinaryFramesOfEveryKind) {
    RecordingSink sink;
    Feeder f;
    f.deliver({0xA5, 0x12, 0x34, ',', 0x07, 0x80, 0x00, 0x01, '&', 0xA3, 0x80, 0x00}, sink);
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(sink.records[0].value, 0x1234u);
    EXPECT_EQ(sink.records[0].status, 0);
    EXPECT_EQ(sink.records[0].kind, 0xA5);
    EXPECT_EQ(sink.records[1].value, 0x800001u);
    EXPECT_EQ(sink.records[1].status, 7);
    EXPECT_EQ(sink.records[1].kind, ',');
    EXPECT_EQ(sink.records[2].value, 0x8000u);
    EXPECT_EQ(sink.records[2].status, 3);
    EXPECT_EQ(sink.records[2].kind, 0xA5);
    EXPECT_EQ(f.rx().kept, 0u);
    EXPECT_EQ(f.rx().want, 0u);
}

TEST(FrameParser, ByteByByteGivesTheSameRecordsAndAsksForTheMissingBytes) {
    RecordingSink sink;
    Feeder f;
    f.deliverByteByByte({0xA5, 0x12, 0x34}, sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].value, 0x1234u);
    EXPECT_EQ(f.wants, (std::vector<std::uint32_t>{2, 1, 0}));

    f.wants.clear();
    f.deliverByteByByte({',', 0x01, 0x02, 0x03, 0x04}, sink);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[1].value, 0x020304u);
    EXPECT_EQ(f.wants, (std::vector<std::uint32_t>{4, 3, 2, 1, 0}));
}

TEST(FrameParser, AmpersandWithBadStatusCostsOnlyItsFirstByte) {
    RecordingSink sink;
    Feeder f;
    // 0x43 0x80 0x00 are then unknown bytes, dropped one by one.
    f.deliver({'&', 0x43, 0x80, 0x00, 0xA5, 0x00, 0x01}, sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].value, 1u);
}

TEST(FrameParser, GarbageIsSkippedAndTheParserResynchronises) {
    RecordingSink sink;
    Feeder f;
    f.deliver({0x00, 0xFF, 0x13, '$', ';', 0x7F, 0xA5, 0xBE, 0xEF}, sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].value, 0xBEEFu);
    EXPECT_TRUE(sink.answers.empty());
}

TEST(FrameParser, TextFrames) {
    RecordingSink sink;
    Feeder f;
    f.deliver({'-', ' ', ' ', ' ', '1', '2', '.', '5', '\r', '\n'}, sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].kind, '-');
    EXPECT_EQ(floatOf(sink.records[0]), -12.5f);

    // Only the sign and the first ten characters count.
    std::vector<std::uint8_t> long13{'+'};
    for (char c : std::string("1234567890123")) long13.push_back(static_cast<std::uint8_t>(c));
    long13.push_back('\n');
    f.deliver(long13, sink);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(floatOf(sink.records[1]), 1234567890.0f);
    EXPECT_EQ(sink.records[1].kind, '+');

    // Bit 7 of each character is ignored.
    f.deliver({'+', '2' | 0x80, '.', '5', '\n'}, sink);
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(floatOf(sink.records[2]), 2.5f);
}

TEST(FrameParser, ShortTextFrameWaitsForAFourthByte) {
    RecordingSink sink;
    Feeder f;
    f.deliver({'+', '1', '\n'}, sink);
    EXPECT_TRUE(sink.records.empty());
    EXPECT_EQ(f.rx().want, 1u);
    EXPECT_EQ(f.rx().kept, 3u);
    f.deliver({0xA5}, sink);  // the fourth byte completes nothing but lets the text parse
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(floatOf(sink.records[0]), 1.0f);
    EXPECT_EQ(f.rx().want, 2u);  // the 0xA5 frame now misses its two value bytes
}

TEST(FrameParser, IncompleteTextAsksForOneByteAfterCarriageReturnElseTwo) {
    RecordingSink sink;
    Feeder f;
    f.deliver({'+', '1', '2', '3', '\r'}, sink);
    EXPECT_EQ(f.rx().want, 1u);
    Feeder g;
    g.deliver({'+', '1', '2', '3', '4'}, sink);
    EXPECT_EQ(g.rx().want, 2u);
    Feeder h;
    h.deliver({'+', ' ', ' ', ' ', ' '}, sink);  // only spaces so far
    EXPECT_EQ(h.rx().want, 2u);
    EXPECT_TRUE(sink.records.empty());
}

TEST(FrameParser, TextThatDoesNotConvertCostsOnlyItsSign) {
    RecordingSink sink;
    Feeder f;
    // "+abc\n": the sign is dropped, then 'a','b','c','\n' are unknown bytes.
    f.deliver({'+', 'a', 'b', 'c', '\n', 0xA5, 0x00, 0x02}, sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].value, 2u);
    // A second sign inside the text does not convert either.
    f.deliver({'+', '-', '5', '\n'}, sink);
    EXPECT_EQ(sink.records.size(), 1u);
}

TEST(FrameParser, HexadecimalTextConvertsAndHalfAnInfinityDoesNot) {
    RecordingSink sink;
    Feeder f;
    f.deliver({'+', '0', 'x', '1', '0', '\n', '-', '0', 'x', '1', 'p', '3', '\n'}, sink);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(floatOf(sink.records[0]), 16.0f);
    EXPECT_EQ(sink.records[0].kind, '+');
    EXPECT_EQ(floatOf(sink.records[1]), -8.0f);
    EXPECT_EQ(sink.records[1].kind, '-');
    // Neither converts: each costs its sign, the rest are unknown bytes.
    f.deliver({'+', 'i', 'n', 'f', 'i', 'n', '\n', '+', '0', 'x', '\n'}, sink);
    EXPECT_EQ(sink.records.size(), 2u);
}

TEST(FrameParser, AnswersOnlyWhileACommandIsPending) {
    RecordingSink sink;
    Feeder f;
    f.deliver({';', 0x01, 0x02}, sink);  // nobody waits: ';' dropped, 0x01 0x02 unknown
    EXPECT_TRUE(sink.answers.empty());

    sink.pending = 4;  // two answer bytes
    f.deliver({';', 0x01, 0x02}, sink);
    ASSERT_EQ(sink.answers.size(), 1u);
    EXPECT_EQ(sink.answers[0].code, 4);
    EXPECT_EQ(sink.answers[0].bytes, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(sink.answers[0].level, -1);
}

TEST(FrameParser, AnswerSplitAcrossReads) {
    RecordingSink sink;
    sink.pending = 31;  // eight answer bytes
    Feeder f;
    f.deliver({';', 1, 2}, sink);
    EXPECT_EQ(f.rx().want, 6u);
    f.deliver({3, 4, 5, 6, 7, 8}, sink);
    ASSERT_EQ(sink.answers.size(), 1u);
    EXPECT_EQ(sink.answers[0].bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(FrameParser, IdentificationAnswerByDollarOrSemicolon) {
    RecordingSink sink;
    Feeder f;
    f.deliver({'$', 0x00, 0x10, 0x05, 0x03}, sink);  // not pending: all dropped
    EXPECT_TRUE(sink.answers.empty());

    sink.pending = 42;
    f.deliver({'$', 0x00, 0x10, 0x05, 0x03}, sink);
    ASSERT_EQ(sink.answers.size(), 1u);
    EXPECT_EQ(sink.answers[0].bytes, (std::vector<std::uint8_t>{0x00, 0x10, 0x05}));
    EXPECT_EQ(sink.answers[0].level, 3);

    sink.pending = 42;
    f.deliver({';', 0x00, 0x10, 0x05}, sink);
    ASSERT_EQ(sink.answers.size(), 2u);
    EXPECT_EQ(sink.answers[1].level, 0);

    // '$' completes only the identification request.
    sink.pending = 1;
    f.deliver({'$', 1, 2, 3, 4}, sink);
    EXPECT_EQ(sink.answers.size(), 2u);
}

TEST(FrameParser, AnswerWithoutBytesIsALoneSemicolon) {
    RecordingSink sink;
    sink.pending = 35;
    Feeder f;
    f.deliver({';'}, sink);
    ASSERT_EQ(sink.answers.size(), 1u);
    EXPECT_TRUE(sink.answers[0].bytes.empty());
}

TEST(FrameParser, DiscardStopsTheParseAndDropsTheRest) {
    RecordingSink sink;
    sink.discardAfter = 1;
    Feeder f;
    f.deliver({0xA5, 0, 1, 0xA5, 0, 2, ',', 1}, sink);
    EXPECT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(f.rx().kept, 0u);
    EXPECT_EQ(f.rx().want, 0u);
}

TEST(FrameParser, BinaryRunsArriveInOrderInOneCallPerRun) {
    // 24-bit frames carrying their own index, so order and loss show.
    const auto frames24 = [](std::uint32_t from, std::uint32_t n) {
        std::vector<std::uint8_t> b;
        for (std::uint32_t i = from; i < from + n; ++i) {
            b.insert(b.end(), {',', 0x02, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                               static_cast<std::uint8_t>(i)});
        }
        return b;
    };
    const auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int pending;
        std::uint32_t records;
        int calls;
        std::size_t answers;
    };
    const Case cases[] = {
        {"three kinds in a row", {0xA5, 0, 0, ',', 2, 0, 0, 0, '&', 0xA2, 0, 2}, kNoCommand, 3, 1, 0},
        {"600 frames: 256 + 256 + 88", frames24(0, 600), kNoCommand, 600, 3, 0},
        {"a text value splits the run", join({frames24(0, 2), {'+', '1', '\n'}, frames24(2, 2)}), kNoCommand, 5, 3, 0},
        {"garbage splits the run", join({frames24(0, 2), {0x00, 0x7F}, frames24(2, 3)}), kNoCommand, 5, 2, 0},
        {"an answer splits the run", join({frames24(0, 1), {';', 0x0C, 0x10}, frames24(1, 1)}), 43, 2, 2, 1},
        {"a bad status byte splits the run", join({frames24(0, 1), {'&', 0x43, 0, 0}, frames24(1, 1)}), kNoCommand, 2, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSink sink;
        sink.pending = c.pending;
        Feeder f;
        f.deliver(c.bytes, sink);
        ASSERT_EQ(sink.records.size(), c.records);
        EXPECT_EQ(sink.calls, c.calls);
        EXPECT_EQ(sink.answers.size(), c.answers);
        std::uint32_t next24 = 0;
        for (const SampleRecord& r : sink.records) {
            if (r.kind != kKind24 || r.status != 2) continue;
            EXPECT_EQ(r.value, next24);
            ++next24;
        }
        EXPECT_EQ(f.rx().kept, 0u);
    }
}

TEST(FrameParser, EndlessTextNeverOutgrowsTheBuffer) {
    RecordingSink sink;
    Feeder f(64);
    // A sign followed by digits without a line feed, fed in pieces: the
    // kept bytes plus what is asked for never exceed the buffer.
    f.deliver({'+', '1', '2', '3'}, sink);
    for (int i = 0; i < 100; ++i) {
        const std::uint32_t room = 64 - f.rx().kept;
        const std::uint32_t n = std::min<std::uint32_t>(std::max<std::uint32_t>(f.rx().want, 1), room);
        ASSERT_GT(n, 0u);
        // Every tenth delivery starts a new sign, so text frames keep growing.
        f.deliver(std::vector<std::uint8_t>(n, i % 10 == 0 ? '+' : '7'), sink);
    }
    EXPECT_TRUE(sink.records.empty());
    EXPECT_GT(f.rx().kept, 32u);  // a long text frame was being held
    // After the garbage the parser still finds frames.
    f.deliver({'\n', 0xA5, 0x01, 0x02}, sink);
    ASSERT_FALSE(sink.records.empty());
    EXPECT_EQ(sink.records.back().value, 0x0102u);
}

TEST(FrameParser, TextFrameThatFillsTheBufferGivesItsValueHoweverItWasSplit) {
    // "+123456\n" is exactly the 8 bytes of the buffer; "+1234567" and more
    // never meet a line feed inside it and lose their sign once it is full.
    const std::vector<std::uint8_t> fits{'+', '1', '2', '3', '4', '5', '6', '\n', 0xA5, 0x00, 0x07};
    const std::vector<std::uint8_t> outgrows{'+', '1', '2', '3', '4', '5', '6', '7', '\n', 0xA5, 0x00, 0x07};
    const struct {
        const std::vector<std::uint8_t>* stream;
        std::vector<std::uint32_t> pieces;
        std::vector<std::uint32_t> values;  // 123456 as a float's bits, then the 0xA5 value
    } rows[] = {
        {&fits, {8, 3}, {0x47F12000u, 7u}},
        {&fits, {5, 2, 1, 3}, {0x47F12000u, 7u}},
        {&fits, {4, 3, 1, 1, 1, 1}, {0x47F12000u, 7u}},
        {&fits, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {0x47F12000u, 7u}},
        {&outgrows, {8, 4}, {7u}},
        {&outgrows, {5, 2, 1, 1, 3}, {7u}},
        {&outgrows, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {7u}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.stream->size() << " bytes in " << r.pieces.size() << " pieces");
        RecordingSink sink;
        Feeder f(8);
        std::size_t at = 0;
        for (std::uint32_t n : r.pieces) {
            f.deliver(std::vector<std::uint8_t>(r.stream->begin() + at, r.stream->begin() + at + n), sink);
            at += n;
        }
        ASSERT_EQ(at, r.stream->size());
        std::vector<std::uint32_t> values;
        for (const SampleRecord& rec : sink.records) values.push_back(rec.value);
        EXPECT_EQ(values, r.values);
        EXPECT_EQ(f.rx().kept, 0u);
    }
}

// A text frame is decided on its first 64 bytes: a line feed among them ends
// it, none gives up its sign, and either way the same for every split.
TEST(FrameParser, TextFrameIsDecidedWithinSixtyFourBytes) {
    const auto text = [](const std::string& t) { return std::vector<std::uint8_t>(t.begin(), t.end()); };
    const auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    // 24-bit frames with status 5 and the values 0x123421, 0x123422, ...:
    // no byte of them is a line feed.
    const auto frames = [](std::uint32_t n) {
        std::vector<std::uint8_t> b;
        for (std::uint32_t i = 1; i <= n; ++i) b.insert(b.end(), {',', 5, 0x12, 0x34, static_cast<std::uint8_t>(0x20 + i)});
        return b;
    };
    const std::vector<std::uint8_t> marker{0xA5, 0x00, 0x07};
    const std::string spaces57(57, ' ');
    struct Row {
        const char* name;
        std::vector<std::uint8_t> stream;
        int pending;
        std::vector<std::uint32_t> values;  // every record's value, in order
        std::vector<Answer> answers;
    };
    const Row rows[] = {
        // '-', 57 spaces, "0.25", CR: 63 bytes, the line feed is the 64th.
        {"63 bytes and a line feed convert", join({text("-" + spaces57 + "0.25\r\n"), marker}), kNoCommand,
         {0xBE800000u, 7u}, {}},
        // One space more: the 64 bytes from the sign hold no line feed. The
        // sign goes; spaces, digits, CR and LF are unknown bytes.
        {"64 bytes without a line feed give up the sign", join({text("-" + spaces57 + " 0.25\r\n"), marker}), kNoCommand,
         {7u}, {}},
        {"64 digits without a line feed give up the sign", join({{'+'}, std::vector<std::uint8_t>(63, '7'), marker}),
         kNoCommand, {7u}, {}},
        // A stray sign, the answer to command 4 (two bytes) and twelve
        // frames fill the 64 bytes; the answer and every frame come through.
        {"a stray sign before an answer and binary frames", join({{'-', ';', 0x01, 0x02}, frames(13)}), 4,
         {0x123421u, 0x123422u, 0x123423u, 0x123424u, 0x123425u, 0x123426u, 0x123427u, 0x123428u, 0x123429u,
          0x12342Au, 0x12342Bu, 0x12342Cu, 0x12342Du},
         {{4, {0x01, 0x02}, -1}}},
    };
    for (const Row& r : rows) {
        for (const std::uint32_t piece : {1u, 2u, 7u, 63u, 64u, 65u, 1000u}) {
            SCOPED_TRACE(::testing::Message() << r.name << ", pieces of " << piece);
            RecordingSink sink;
            sink.pending = r.pending;
            Feeder f;
            for (std::size_t at = 0; at < r.stream.size(); at += piece) {
                const std::size_t end = std::min<std::size_t>(r.stream.size(), at + piece);
                f.deliver(std::vector<std::uint8_t>(r.stream.begin() + static_cast<std::ptrdiff_t>(at),
                                                    r.stream.begin() + static_cast<std::ptrdiff_t>(end)),
                          sink);
            }
            std::vector<std::uint32_t> values;
            for (const SampleRecord& rec : sink.records) values.push_back(rec.value);
            EXPECT_EQ(values, r.values);
            ASSERT_EQ(sink.answers.size(), r.answers.size());
            for (std::size_t i = 0; i < r.answers.size(); ++i) {
                EXPECT_EQ(sink.answers[i].code, r.answers[i].code);
                EXPECT_EQ(sink.answers[i].bytes, r.answers[i].bytes);
            }
            EXPECT_EQ(f.rx().kept, 0u);
        }
    }
}

TEST(FrameParser, OpenTextFrameNeverAsksBeyondItsSixtyFourthByte) {
    RecordingSink sink;
    Feeder f;
    // 62 digits after the sign: one byte more decides the frame.
    std::vector<std::uint8_t> open{'+'};
    open.insert(open.end(), 62, '7');
    f.deliver(open, sink);
    EXPECT_EQ(f.rx().kept, 63u);
    EXPECT_EQ(f.rx().want, 1u);
    f.deliver({'7'}, sink);
    EXPECT_EQ(f.rx().kept, 0u);
    EXPECT_EQ(f.rx().want, 0u);
    EXPECT_TRUE(sink.records.empty());
}

// A held text frame given up without more bytes (a quiet line): the sign
// goes and what stands behind it is parsed again.
TEST(FrameParser, GivingUpAKeptTextFrameParsesWhatFollowsItsSign) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> kept;
        int pending;
        std::vector<std::vector<std::uint8_t>> answers;  // bytes of each answer after each give-up
        std::uint32_t keptAfter;
        std::uint32_t wantAfter;
    };
    const Row rows[] = {
        // Command 4 awaits two bytes; "-;\x01\x02" held as a text frame.
        {"an answer behind a sign", {'-', ';', 0x01, 0x02}, 4, {{0x01, 0x02}}, 0, 0},
        // Command 27 awaits one byte; the second sign holds a 3-byte frame,
        // short of the four a text frame needs: a second give-up frees it.
        {"an answer behind two signs", {'+', '-', ';', 0x09}, 27, {{}, {0x09}}, 0, 0},
        // Half a value frame behind the sign waits for its remaining bytes.
        {"half a value frame behind a sign", {'-', ',', 0x05, 0x12}, kNoCommand, {{}}, 3, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RecordingSink sink;
        sink.pending = r.pending;
        Feeder f;
        f.deliver(r.kept, sink);
        ASSERT_TRUE(holdsTextFrame(f.rx()));
        ASSERT_TRUE(sink.answers.empty());
        RxState rx = f.rx();
        for (const auto& expected : r.answers) {
            giveUpKeptFrame(rx, sink);
            if (expected.empty()) continue;
            ASSERT_EQ(sink.answers.size(), 1u);
            EXPECT_EQ(sink.answers[0].bytes, expected);
        }
        EXPECT_EQ(rx.kept, r.keptAfter);
        EXPECT_EQ(rx.want, r.wantAfter);
        EXPECT_TRUE(sink.records.empty());
    }
}

}  // namespace
}  // namespace nxtka
