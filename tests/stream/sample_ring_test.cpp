// The ring and the conversion of raw records to measured values.
#include "stream/sample_ring.h"
#include "stream/value_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace nxtka {
namespace {

SampleRecord rec(std::uint32_t v, std::uint8_t kind = kKind24) { return SampleRecord{v, 0, kind, 0}; }

SampleRecord text(float f, char sign = '+') {
    SampleRecord r{};
    std::memcpy(&r.value, &f, sizeof f);
    r.kind = static_cast<std::uint8_t>(sign);
    return r;
}

TEST(SampleRing, CapacityIsClamped) {
    SampleRing r;
    ASSERT_TRUE(r.allocate(0));
    EXPECT_EQ(r.capacity(), 1u);
    ASSERT_TRUE(r.allocate(-5));
    EXPECT_EQ(r.capacity(), 1u);
}

TEST(SampleRing, FullRingDropsTheOldestAndReportsOnlyTheFirstEntryIntoAnEmptyRing) {
    SampleRing r;
    ASSERT_TRUE(r.allocate(2));
    EXPECT_TRUE(r.append(rec(1)));
    EXPECT_FALSE(r.append(rec(2)));
    EXPECT_FALSE(r.append(rec(3)));
    EXPECT_EQ(r.count(), 2u);
    EXPECT_EQ(r.takeOldest().value, 2u);
    EXPECT_EQ(r.takeOldest().value, 3u);
    EXPECT_EQ(r.count(), 0u);
    EXPECT_TRUE(r.append(rec(4)));
}

TEST(SampleRing, AppendingARunActsAsSingleAppendsInOrder) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> before;  // appended one at a time first
        std::uint32_t taken;                // then taken off
        std::vector<std::uint32_t> run;     // appended in one call
        bool enteredEmpty;
        std::uint32_t head;
        std::vector<std::uint32_t> oldestFirst;
    };
    const Case cases[] = {
        {"into an empty ring", {}, 0, {1, 2}, true, 2, {1, 2}},
        {"exactly filling, across the end", {1, 2, 3}, 2, {4, 5, 6}, false, 2, {3, 4, 5, 6}},
        {"two too many drop the two oldest", {1, 2, 3}, 0, {4, 5, 6}, false, 2, {3, 4, 5, 6}},
        {"longer than the ring keeps its newest", {}, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true, 2, {7, 8, 9, 10}},
        {"longer than the ring from the middle", {1, 2, 3}, 3, {4, 5, 6, 7, 8, 9}, true, 1, {6, 7, 8, 9}},
        {"an empty run changes nothing", {1}, 1, {}, false, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRing r;
        ASSERT_TRUE(r.allocate(4));
        for (std::uint32_t v : c.before) r.append(rec(v));
        for (std::uint32_t i = 0; i < c.taken; ++i) r.takeOldest();
        std::vector<SampleRecord> run;
        for (std::uint32_t v : c.run) run.push_back(rec(v));
        EXPECT_EQ(r.append(run.data(), static_cast<std::uint32_t>(run.size())), c.enteredEmpty);
        EXPECT_EQ(r.head(), c.head);
        ASSERT_EQ(r.count(), c.oldestFirst.size());
        if (r.count() == r.capacity()) {
            EXPECT_EQ(r.tail(), r.head());
        }
        for (std::uint32_t v : c.oldestFirst) EXPECT_EQ(r.takeOldest().value, v);
    }
}

TEST(SampleRing, TakingSeveralCopiesTheOldestFirstAcrossTheEnd) {
    struct Case {
        const char* name;
        std::uint32_t skipped;  // appended and taken off first, to move the tail
        std::uint32_t stored;   // then values 1..stored appended
        std::uint32_t taken;
        std::uint32_t tail;     // tail afterwards
    };
    const Case cases[] = {
        {"from slot 0", 0, 3, 2, 2},
        {"across the end", 3, 4, 3, 2},
        {"up to the end exactly", 2, 3, 2, 0},
        {"everything", 1, 4, 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRing r;
        ASSERT_TRUE(r.allocate(4));
        for (std::uint32_t i = 0; i < c.skipped; ++i) r.append(rec(100));
        for (std::uint32_t i = 0; i < c.skipped; ++i) r.takeOldest();
        for (std::uint32_t v = 1; v <= c.stored; ++v) r.append(rec(v));
        std::vector<SampleRecord> out(c.taken + 1, rec(0xEEEE));
        r.take(out.data(), c.taken);
        for (std::uint32_t i = 0; i < c.taken; ++i) EXPECT_EQ(out[i].value, i + 1);
        EXPECT_EQ(out[c.taken].value, 0xEEEEu);
        EXPECT_EQ(r.tail(), c.tail);
        EXPECT_EQ(r.count(), c.stored - c.taken);
    }
}

TEST(SampleRing, DropAllKeepsTheInvariantClearRestarts) {
    SampleRing r;
    ASSERT_TRUE(r.allocate(5));
    for (std::uint32_t i = 0; i < 7; ++i) r.append(rec(i));
    EXPECT_EQ(r.dropAll(), 5u);
    EXPECT_EQ(r.count(), 0u);
    EXPECT_EQ(r.head(), r.tail());
    r.append(rec(9));
    EXPECT_EQ(r.takeOldest().value, 9u);
    r.append(rec(1));
    r.clear();
    EXPECT_EQ(r.count(), 0u);
    EXPECT_EQ(r.head(), 0u);
    EXPECT_EQ(r.tail(), 0u);
}

// Numbers and times: records A..H, the ring holding three.
TEST(SampleRing, NumbersEveryStoredRecordAndCountsOnlyOverflowAsDropped) {
    SampleRing r;
    ASSERT_TRUE(r.allocate(3));
    const SampleRecord ab[] = {rec(0xA), rec(0xB)};
    r.append(ab, 2, 10);
    SampleRecord out[3];
    std::int64_t times[3] = {};
    r.take(out, 1, times);
    EXPECT_EQ(out[0].value, 0xAu);
    EXPECT_EQ(times[0], 10);
    EXPECT_EQ(r.oldestSequence(), 1u);  // B

    const SampleRecord cdef[] = {rec(0xC), rec(0xD), rec(0xE), rec(0xF)};
    r.append(cdef, 4, 20);  // B and C fall out
    EXPECT_EQ(r.overflowed(), 2u);
    EXPECT_EQ(r.oldestSequence(), 3u);  // D
    r.take(out, 3, times);
    EXPECT_EQ(out[0].value, 0xDu);
    EXPECT_EQ(out[2].value, 0xFu);
    EXPECT_EQ(times[0], 20);
    EXPECT_EQ(times[2], 20);

    r.append(rec(0x6), 30);  // number 6, then discarded by a clear
    r.clear();
    r.append(rec(0x7), 40);
    r.append(rec(0x8), 50);
    EXPECT_EQ(r.dropAll(), 2u);  // a flush drops 7 and 8: a gap, but no overflow
    EXPECT_EQ(r.oldestSequence(), 9u);
    EXPECT_EQ(r.overflowed(), 2u);

    ASSERT_TRUE(r.allocate(3));  // a new activation counts afresh
    EXPECT_EQ(r.oldestSequence(), 0u);
    EXPECT_EQ(r.overflowed(), 0u);
}

TEST(ValueConversion, TwentyFourBit) {
    EXPECT_EQ(convertRecord(rec(0), false, 1, 0), 0.0);
    EXPECT_EQ(convertRecord(rec(0xFFFFFF), false, 1, 0), 16777215 * 6.258487701416016e-8);
    EXPECT_LT(convertRecord(rec(0xFFFFFF), false, 1, 0), 1.05);
    EXPECT_EQ(convertRecord(rec(0x800000), true, 1, 0), 0.0);
    EXPECT_EQ(convertRecord(rec(0), true, 1, 0), -1.05);
    EXPECT_EQ(convertRecord(rec(0xFFFFFF), true, 1, 0), 8388607 * 1.2516975402832032e-7);
}

TEST(ValueConversion, SixteenBit) {
    EXPECT_EQ(convertRecord(rec(0x8000, kKind16), false, 1, 0), 0.525);
    EXPECT_EQ(convertRecord(rec(0x8000, kKind16), true, 1, 0), 0.0);
    EXPECT_EQ(convertRecord(rec(0xFFFF, kKind16), true, 1, 0), 32767 * 3.204345703125e-5);
    EXPECT_EQ(convertRecord(rec(0, kKind16), true, 1, 0), -1.05);
}

TEST(ValueConversion, TextDividesByTheDisplayNormAndInvertsOnlyForExactFlags) {
    EXPECT_EQ(convertRecord(text(2.0f), false, 4.0, 0), 0.5);
    EXPECT_EQ(convertRecord(text(2.0f), true, 4.0, 0x31), -0.5);
    EXPECT_EQ(convertRecord(text(2.0f), true, 4.0, 0x33), 0.5);
    EXPECT_EQ(convertRecord(text(2.0f), false, 4.0, 0x31), 0.5);
    EXPECT_EQ(convertRecord(text(-3.0f, '-'), false, 2.0, 0), -1.5);
}

// Times of appends that overflow part of an older append and wrap the ring.
TEST(SampleRing, EachRecordKeepsTheTimeOfItsOwnAppendThroughOverflowAndWrap) {
    SampleRing r;
    ASSERT_TRUE(r.allocate(4));
    const SampleRecord three[] = {rec(1), rec(2), rec(3)};
    r.append(three, 3, 100);
    r.append(three, 2, 200);         // 1 falls out: 2,3 at 100; 1,2 at 200
    r.append(rec(9), 200);           // 2 falls out: 3 at 100; 1,2,9 at 200
    r.append(three, 1, 300);         // 3 falls out
    SampleRecord out[4];
    std::int64_t times[4] = {};
    r.take(out, 2, times);
    EXPECT_EQ(times[0], 200);
    EXPECT_EQ(times[1], 200);
    r.append(three, 3, 400);         // 9 at 200 falls out: 1 at 300; 1,2,3 at 400
    r.take(out, 4, times);
    const std::int64_t expected[] = {300, 400, 400, 400};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(times[i], expected[i]) << i;
    EXPECT_EQ(out[3].value, 3u);
    EXPECT_EQ(r.overflowed(), 4u);
}

}  // namespace
}  // namespace nxtka
