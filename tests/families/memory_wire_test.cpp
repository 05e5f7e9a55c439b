// Device memory and linearization tables on the wire: one row per export.
#include "support/wire_rows.h"

#include <climits>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::WireRow;

using test::call;

std::uint8_t buffer[8] = {};
std::int32_t status = 0;

// Level 4 with the linearization option; the memory settles in 10 ms (58
// answers 5), the legacy layout.
const WireRow kRows[] = {
    {"TKAreadMemory", call([](unsigned p) { return TKAreadMemory(p, 0x3FC, buffer, &status); }), {56, 0xFF},
     Answer{56, 0x11223344A3}, 0, call([](unsigned p) { return TKAreadMemory(p, 6, buffer, &status); })},
    {"TKAreadMemoryNull", call([](unsigned p) { return TKAreadMemory(p, 4, buffer, nullptr); }), {56, 0x01},
     Answer{56, 0x1122334452}, -1, call([](unsigned p) { return TKAreadMemory(p, 4, nullptr, &status); })},
    {"TKAwriteMemory", call([](unsigned p) { return TKAwriteMemory(p, 0x3FF, 1, 0x1AB, &status); }),
     {57, 0x83, 0xFF, 0xAB}, Answer{57, 0xA0}, 0,
     call([](unsigned p) { return TKAwriteMemory(p, 1024, 0, 1, &status); })},
    {"TKAwriteMemoryPlain", call([](unsigned p) { return TKAwriteMemory(p, 0x201, 0, -1, &status); }),
     {57, 0x02, 0x01, 0xFF}, Answer{57, 0x33}, -1},
    {"TKAgetMemoryWait", call(TKAgetMemoryWait), {58}, Answer{58, 250}, 0.5},
    // 6 bytes from 2: the words at 0 and 4
    {"TKAcopyMemoryRead", call([](unsigned p) { return TKAcopyMemory(p, 6, 2, buffer); }), {58, 56, 0, 56, 1}, {}, 6,
     call([](unsigned p) { return TKAcopyMemory(p, 6, 2, nullptr); })},
    {"TKAcopyMemoryWrite", call([](unsigned p) {
         std::uint8_t bytes[2] = {0x10, 0x20};
         return TKAcopyMemory(p, -2, 0x101, bytes);
     }),
     {58, 57, 0x01, 0x01, 0x10, 57, 0x01, 0x02, 0x20}, {}, 2,
     call([](unsigned p) { return TKAcopyMemory(p, INT_MIN, 0, buffer); })},
    {"TKAcopyMemoryNothing", call([](unsigned p) { return TKAcopyMemory(p, 0, 0, buffer); }), {}, {}, 0,
     call([](unsigned p) { return TKAcopyMemory(p, 2, 0xFFFFFFFF, buffer); })},
    {"TKAcheckMemoryWrite", call([](unsigned p) {
         std::uint8_t bytes[2] = {0x10, 0x20};
         return TKAcheckMemory(p, -2, 1022, bytes);
     }),
     {58, 57, 0x83, 0xFE, 0x10, 57, 0x83, 0xFF, 0x20}, {}, 2,
     call([](unsigned p) { return TKAcheckMemory(p, 30, 1000, buffer); })},
    {"TKAcheckMemoryRead", call([](unsigned p) { return TKAcheckMemory(p, 5, 3, buffer); }), {58, 56, 0, 56, 1}, {},
     5, call([](unsigned p) { return TKAcheckMemory(p, -1, 1024, buffer); })},
    // the flag byte: the layout word 252, then the word of address 248
    {"TKAcopyLinearFlagByte", call([](unsigned p) { return TKAcopyLinear(p, nullptr, 1, &status); }),
     {58, 56, 63, 58, 56, 62}, {}, 0,
     call([](unsigned p) {
         static LinearPoint table[3] = {};
         status = 4;  // mode 4 does not exist
         return TKAcopyLinear(p, table, -2, &status);
     })},
};

sim::Config linearAmplifier() {
    sim::Config c;
    c.level = 4;
    c.options = 0x80;
    return c;
}

class MemoryWire : public ::testing::TestWithParam<WireRow> {};

TEST_P(MemoryWire, GoodCallSendsItsBytesBadCallNothing) {
    SimPort sp(600, LineKind::Virtual, linearAmplifier());
    ASSERT_EQ(sp.activate(), 0);
    test::checkRow(sp, GetParam());
}

TEST_P(MemoryWire, FailsOnAPortThatIsNotActive) {
    SimPort sp(601, LineKind::Virtual, linearAmplifier());
    EXPECT_EQ(GetParam().good(601), -1.0);
    EXPECT_EQ(GetParam().good(1024), -1.0);
    EXPECT_TRUE(sp.model().commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, MemoryWire, ::testing::ValuesIn(kRows), test::rowName);

}  // namespace
}  // namespace nxtka
