// The ring and the conversion of raw records to measured values.
#include "stream/sample_ring.h"
#include "stream/value_conversion.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace nxtka
