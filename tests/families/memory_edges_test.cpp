// Device memory and linearization tables end to end: statuses, retries and
// their pauses, settling, partial words, the refused ranges, both table
// layouts and the flag commands.
#include "support/family_tests.h"

#include <climits>
#include <cstring>

namespace nxtka {
namespace {

using test::Answer;
using test::LineKind;
using test::SimPort;
using test::describedAmplifier;
using test::Bytes;
using test::load;
using test::memoryAt;
using test::reasonText;

constexpr int kNone = sim::AmplifierModel::kMemoryNoAnswer;
constexpr std::int32_t kFail = INT32_MIN;  // bit 31 of an error info

sim::Config amplifier(int level, std::uint32_t options = 0x80) {
    sim::Config c;
    c.level = level;
    c.options = options;
    c.memoryWait = 5;  // 10 ms
    return c;
}

// The parameter bytes of every command with this code, in order.
std::vector<Bytes> paramsOf(SimPort& sp, int code) {
    std::vector<Bytes> out;
    for (const auto& c : sp.model().commands())
        if (c.code == code) out.push_back(c.params);
    return out;
}

std::vector<sim::ReceivedCommand> commandsOf(SimPort& sp, int code) {
    std::vector<sim::ReceivedCommand> out;
    for (const auto& c : sp.model().commands())
        if (c.code == code) out.push_back(c);
    return out;
}

long msBetween(const sim::ReceivedCommand& a, const sim::ReceivedCommand& b) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(b.at - a.at).count());
}

TEST(MemoryEdges, SingleStepsReportTheirStatus) {
    SimPort sp(610, LineKind::Virtual, amplifier(3, 0));
    ASSERT_EQ(sp.activate(), 0);
    load(sp, 8, {1, 2, 3, 4});
    std::uint8_t data[4] = {9, 9, 9, 9};
    std::int32_t status = 0;
    sp.model().scriptMemory(8, {0xA3, 0x52, 0x33});
    EXPECT_EQ(TKAreadMemory(610, 8, data, &status), 0);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(Bytes(data, data + 4), (Bytes{1, 2, 3, 4}));
    std::memset(data, 9, 4);
    EXPECT_EQ(TKAreadMemory(610, 8, data, &status), -1);
    EXPECT_EQ(status, 18);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);  // the status in words
    EXPECT_EQ(reasonText(), "the amplifier answered: status 18 (a failure, byte 0x52) reading memory at 8");
    EXPECT_EQ(TKAreadMemory(610, 8, data, &status), -1);
    EXPECT_EQ(status, 16);
    EXPECT_EQ(reasonText(), "the amplifier answered: byte 0x33, no memory status (status 16), reading memory at 8");
    EXPECT_EQ(Bytes(data, data + 4), (Bytes{9, 9, 9, 9}));  // failures leave the data alone
    status = 0;
    EXPECT_EQ(TKAreadMemory(610, 6, data, &status), -1);
    EXPECT_EQ(status, 255);

    sp.model().scriptMemory(0x2FF, {0x5E, 0xA1});
    EXPECT_EQ(TKAwriteMemory(610, 0x2FF, 0, 0x77, &status), -1);
    EXPECT_EQ(status, 30);
    EXPECT_EQ(reasonText(), "the amplifier answered: status 30 (a failure, byte 0x5E) writing memory at 767");
    EXPECT_EQ(memoryAt(sp, 0x2FF, 1), Bytes{0});
    EXPECT_EQ(TKAwriteMemory(610, 0x2FF, 0, 0x77, &status), 0);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(memoryAt(sp, 0x2FF, 1), Bytes{0x77});
    status = 0;
    EXPECT_EQ(TKAwriteMemory(610, 1024, 0, 1, &status), -1);
    EXPECT_EQ(status, 255);

    // no answer: the real 1000 ms wait, status 255
    sp.model().scriptMemory(0, {kNone});
    sp.model().scriptMemory(12, {kNone});
    EXPECT_EQ(TKAreadMemory(610, 0, data, &status), -1);
    EXPECT_EQ(status, 255);
    EXPECT_EQ(TKAwriteMemory(610, 12, 0, 1, &status), -1);
    EXPECT_EQ(status, 255);

    sp.model().setReg(cmd::kGetMemoryWait, 255);
    EXPECT_DOUBLE_EQ(TKAgetMemoryWait(610), 0.51);
}

TEST(MemoryEdges, RetriesOnlyAfterNoAnswerOrUnknownClassWithTheirPauses) {
    SimPort sp(611, LineKind::Virtual, amplifier(3, 0));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().setReg(cmd::kGetMemoryWait, 50);  // 100 ms
    std::uint8_t b = 0x42;
    sp.model().scriptMemory(20, {0x33, 0x07, 0xA0});  // unknown twice, then success
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(611, -1, 20, &b), 1);
    auto writes = commandsOf(sp, 57);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(memoryAt(sp, 20, 1), Bytes{0x42});
    EXPECT_GE(msBetween(commandsOf(sp, 58).front(), writes[0]), 100);  // settling first
    EXPECT_GE(msBetween(writes[0], writes[1]), 250);
    EXPECT_GE(msBetween(writes[1], writes[2]), 250);

    sp.model().scriptMemory(20, {0x52, 0xA0});  // an answered failure is final
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(611, -1, 20, &b), -1);
    EXPECT_EQ(commandsOf(sp, 57).size(), 1u);

    sp.model().scriptMemory(24, {0x33, 0x33, 0x33, 0xA0});  // three attempts at most
    sp.model().clearRecord();
    std::uint8_t word[4] = {};
    EXPECT_EQ(TKAcopyMemory(611, 4, 24, word), 0);
    EXPECT_EQ(commandsOf(sp, 56).size(), 3u);

    // the memory wait is asked up to three times, 250 ms apart
    sp.model().setFaults(sim::Faults{}.silence(58));
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(611, 4, 24, word), -1);
    EXPECT_EQ(commandsOf(sp, 58).size(), 3u);
    EXPECT_TRUE(commandsOf(sp, 56).empty());
}

TEST(MemoryEdges, PartialWordsAtBothEnds) {
    SimPort sp(612, LineKind::Virtual, amplifier(3, 0));
    ASSERT_EQ(sp.activate(), 0);
    load(sp, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    std::uint8_t buf[12] = {};
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(612, 6, 2, buf), 6);
    EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(paramsOf(sp, 56), (std::vector<Bytes>{{0}, {1}}));
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(612, 5, 0, buf), 5);
    EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0, 1, 2, 3, 4}));
    EXPECT_EQ(paramsOf(sp, 56), (std::vector<Bytes>{{0}, {1}}));
    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(612, 2, 5, buf), 2);  // inside one word
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{5, 6}));
    EXPECT_EQ(paramsOf(sp, 56), (std::vector<Bytes>{{1}}));

    // a failed leading partial word is -1; a later failure ends with the count so far
    sp.model().scriptMemory(0, {0x52});
    EXPECT_EQ(TKAcopyMemory(612, 6, 2, buf), -1);
    sp.model().scriptMemory(4, {0x52});
    EXPECT_EQ(TKAcopyMemory(612, 10, 2, buf), 2);
    sp.model().scriptMemory(0, {0x52});
    EXPECT_EQ(TKAcopyMemory(612, 8, 0, buf), 0);

    // a write stops at its first refused byte
    std::uint8_t src[3] = {0xA1, 0xA2, 0xA3};
    sp.model().scriptMemory(41, {0x52});
    EXPECT_EQ(TKAcopyMemory(612, -3, 40, src), 1);
    EXPECT_EQ(memoryAt(sp, 40, 3), (Bytes{0xA1, 0, 0}));

    // check: every byte gets its word's (or its own) status, nothing stops it
    sp.model().scriptMemory(4, {0x52});
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(TKAcheckMemory(612, 7, 2, buf), 7);
    EXPECT_EQ(Bytes(buf, buf + 8), (Bytes{0, 0, 18, 18, 18, 18, 0, 0xEE}));
    std::uint8_t checked[3] = {1, 2, 3};
    sp.model().scriptMemory(101, {0x52});
    EXPECT_EQ(TKAcheckMemory(612, -3, 100, checked), 3);
    EXPECT_EQ(Bytes(checked, checked + 3), (Bytes{1, 18, 1}));  // no marker: the check answers status 1
    EXPECT_EQ(memoryAt(sp, 100, 3), (Bytes{0, 0, 0}));           // the flag only checks
}

TEST(MemoryEdges, RangesThatLeaveTheMemoryOrTheAddressSpaceAreRefused) {
    SimPort sp(613, LineKind::Virtual, amplifier(3, 0));
    ASSERT_EQ(sp.activate(), 0);
    load(sp, 0, {0x11, 0x22, 0x33, 0x44});
    std::uint8_t buf[8] = {};
    sp.model().clearRecord();
    // A start above 1023 fails; it never reads the start of memory instead.
    EXPECT_EQ(TKAcopyMemory(613, 4, 1024, buf), -1);
    EXPECT_EQ(TKAcopyMemory(613, 2, 1026, buf), -1);
    EXPECT_EQ(TKAcopyMemory(613, -1, 1024, buf), -1);
    EXPECT_TRUE(commandsOf(sp, 56).empty());
    EXPECT_TRUE(commandsOf(sp, 57).empty());
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0, 0, 0, 0}));
    std::uint8_t two[2] = {5, 6};
    EXPECT_EQ(TKAcopyMemory(613, -2, 1023, two), 1);  // the step past the end ends it

    sp.model().clearRecord();
    EXPECT_EQ(TKAcopyMemory(613, INT_MIN, 0, buf), -1);
    EXPECT_EQ(TKAcopyMemory(613, INT_MAX, 0xFFFFFF00u, buf), -1);
    EXPECT_EQ(TKAcopyMemory(613, -256, 0xFFFFFF01u, buf), -1);
    EXPECT_EQ(TKAcheckMemory(613, INT_MIN, 0, buf), -1);
    EXPECT_EQ(TKAcheckMemory(613, 30, 1000, buf), -1);
    EXPECT_EQ(TKAcheckMemory(613, 4, 0, nullptr), -1);
    EXPECT_EQ(TKAcopyMemory(613, 4, 0, nullptr), -1);
    EXPECT_TRUE(sp.model().commands().empty());
}

// ---------------------------------------------------------------- linearization

std::int32_t copyLinear(unsigned port, LinearPoint* table, std::int32_t count, std::int32_t& info) {
    return TKAcopyLinear(port, table, count, &info);
}

TEST(LinearEdges, ProbeWritesChecksAndRemovesTheMarker) {
    SimPort sp(620, LineKind::Virtual, amplifier(4));
    ASSERT_EQ(sp.activate(), 0);
    std::int32_t info = 0;
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(620, nullptr, 0, info), 1);
    EXPECT_EQ(info, 18);
    // "LIN" at 254, 255, 253; the count byte checked with the flag; spaces at 253..255
    EXPECT_EQ(paramsOf(sp, 57), (std::vector<Bytes>{{0x00, 254, 'I'},
                                                    {0x00, 255, 'N'},
                                                    {0x00, 253, 'L'},
                                                    {0x80, 72, 0},
                                                    {0x00, 253, ' '},
                                                    {0x00, 254, ' '},
                                                    {0x00, 255, ' '}}));
    EXPECT_EQ(memoryAt(sp, 253, 3), (Bytes{' ', ' ', ' '}));

    // the first check answers status 1, the second (byte 1) status 0
    sp.model().scriptMemory(72, {0xA1, 0xA0});
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(620, nullptr, 0, info), 1);
    const auto writes = paramsOf(sp, 57);
    ASSERT_GE(writes.size(), 5u);
    EXPECT_EQ(writes[3], (Bytes{0x80, 72, 0}));
    EXPECT_EQ(writes[4], (Bytes{0x80, 72, 1}));

    // a check that never passes: 0, and the marker stays
    sp.model().scriptMemory(72, {0xA1, 0xA1});
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(620, nullptr, 0, info), 0);
    EXPECT_EQ(info, 18);
    EXPECT_EQ(memoryAt(sp, 253, 3), (Bytes{'L', 'I', 'N'}));
    EXPECT_EQ(paramsOf(sp, 57).size(), 5u);

    // no settling time: nothing written, the failure passes on as -1
    sp.model().setFaults(sim::Faults{}.silence(58));
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(620, nullptr, 0, info), -1);
    EXPECT_EQ(info, -1);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_TIMEOUT);
    EXPECT_TRUE(paramsOf(sp, 57).empty());
}

// The marker's removal does not change the call's result and info; a
// removal that fails is only its reason.
TEST(LinearEdges, FailedMarkerRemovalIsOnlyTheReason) {
    SimPort sp(621, LineKind::Virtual, amplifier(4));
    ASSERT_EQ(sp.activate(), 0);
    std::int32_t info = 0;
    sp.model().scriptMemory(253, {0xA0, 0x52});  // placing works, removing is refused
    EXPECT_EQ(copyLinear(621, nullptr, 0, info), 1);
    EXPECT_EQ(info, 18);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);
    EXPECT_EQ(reasonText(), "linearization marker not removed: the amplifier answered: status 18 (a failure, byte "
                            "0x52) writing memory at 253");
    EXPECT_EQ(memoryAt(sp, 253, 3), (Bytes{'L', ' ', ' '}));

    // a complete table write likewise
    sp.model().setReg(cmd::kGetRange, 25);  // 2.5
    LinearPoint table[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}, {0.0, -2.5}};
    sp.model().scriptMemory(253, {0xA0, 0x52});
    info = 0;
    EXPECT_EQ(copyLinear(621, table, -3, info), 0);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(memoryAt(sp, 72, 1), Bytes{2});
    EXPECT_NE(reasonText().find("linearization marker not removed"), std::string::npos) << reasonText();
}

TEST(LinearEdges, ModeLinearOrLockDropsTheWriteIntent) {
    SimPort sp(622, LineKind::Virtual, amplifier(4));
    ASSERT_EQ(sp.activate(), 0);
    test::answerWith(sp, Answer{39, 0x80});
    std::int32_t info = 0;
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(622, nullptr, 0, info), 0);
    EXPECT_EQ(info, 18);
    EXPECT_TRUE(paramsOf(sp, 57).empty());
    info = 0;
    EXPECT_EQ(copyLinear(622, nullptr, -1, info), -1);  // flag commands need the marker
    EXPECT_EQ(info, kFail | 0x1C00);
}

TEST(LinearEdges, SupportAndLayoutErrors) {
    struct Row {
        const char* what;
        int level;
        std::uint32_t options;
        bool header;
        Bytes headerBytes;
        std::int32_t info;
    };
    const Row rows[] = {
        {"no option", 5, 0, true, {20, 2, 3}, kFail | 0x400},
        {"header 0", 5, 0x80, true, {0, 2, 3}, kFail | 0x400},
        {"header 255", 5, 0x80, true, {255, 2, 3}, kFail | 0x400},
        {"model 3", 3, 0x80, true, {20, 2, 3}, kFail | 0x400},
        {"model 4 without command test", 4, 0x80, true, {20, 2, 3}, kFail | 0x400},
        {"header 253", 5, 0x80, true, {253, 2, 3}, kFail | 0x800},
        {"slope format", 5, 0x80, true, {20, 7, 3}, kFail | 0x800},
        {"point format", 5, 0x80, true, {20, 2, 4}, kFail | 0x800},
        {"legacy flags below level 4", 3, 0x80, false, {}, kFail | 0x3000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SimPort sp(623, LineKind::Virtual, amplifier(r.level, r.options));
        ASSERT_EQ(sp.activate(), 0);
        sp.model().setLinearHeaderLayout(r.header);
        load(sp, 0, r.headerBytes);
        sp.model().clearRecord();
        std::int32_t info = 0;
        EXPECT_EQ(copyLinear(623, nullptr, 1, info), -1);
        EXPECT_EQ(info, r.info);
        EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);  // what the amplifier is or holds
        if (r.options == 0) {
            EXPECT_TRUE(sp.model().commands().empty());
        }
    }
}

TEST(LinearEdges, ReadsPointsAndExtraRecordOfTheDescribedLayout) {
    SimPort sp(624, LineKind::Virtual, amplifier(5));
    ASSERT_EQ(sp.activate(), 0);
    describedAmplifier(sp);
    sp.model().setMemory(3, 9);  // 10 points
    for (std::size_t i = 0; i < 10; ++i)
        load(sp, 256 + 4 * i,
             {static_cast<std::uint8_t>(0x80 + i), 0x00, static_cast<std::uint8_t>((0x8000 + 0x80 * i) >> 8),
              static_cast<std::uint8_t>(0x80 * i)});
    load(sp, 248, {0xFE, 0x80, 0x01, 0xF4});  // x -2, y -5.00
    LinearPoint table[5] = {};
    std::int32_t info = 0;
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(624, table, 5, info), 0);
    EXPECT_EQ(info, 10);
    // point i: x = 256 i steps, y = 128 i steps of 1.05 x 2^-15
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(table[i].x, i * 256 * 3.204345703125e-5) << i;
        EXPECT_DOUBLE_EQ(table[i].y, i * 128 * 3.204345703125e-5) << i;
    }
    EXPECT_EQ(table[4].x, -2.0);
    EXPECT_EQ(table[4].y, -5.0);
    EXPECT_TRUE(paramsOf(sp, 57).empty());  // reading places no marker

    // the second record and byte
    load(sp, 252, {0x02, 0x00, 0x01, 0x2C});
    sp.model().setMemory(246, 7);
    info = -1;
    LinearPoint second{};
    EXPECT_EQ(copyLinear(624, &second, 1, info), 0);
    EXPECT_EQ(info, 7);
    EXPECT_EQ(second.x, 2.0);
    EXPECT_EQ(second.y, 3.0);

    // a points area read short: the second word of the points is refused
    sp.model().scriptMemory(260, {0x52});
    info = 0;
    EXPECT_EQ(copyLinear(624, table, 5, info), -1);
    EXPECT_EQ(info, kFail | 0x2000);
    EXPECT_EQ(reasonText(), "the amplifier answered: status 18 (a failure, byte 0x52) reading memory at 260");
    // more stored points than the layout holds
    sp.model().setMemory(3, 30);
    info = 0;
    LinearPoint many[40] = {};
    EXPECT_EQ(copyLinear(624, many, 40, info), -1);
    EXPECT_EQ(info, kFail | 0xC00);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);
}

TEST(LinearEdges, CheckingModesSortAndReportTheOffendingPoint) {
    SimPort sp(625, LineKind::Virtual, amplifier(5));
    ASSERT_EQ(sp.activate(), 0);
    describedAmplifier(sp);
    sp.model().clearRecord();
    struct Row {
        const char* what;
        std::vector<LinearPoint> table;  // points, then the extra record
        std::int32_t mode;
        std::int32_t result;
        std::int32_t info;
        const char* reason;  // the caller's table is refused as an argument
    };
    const Row rows[] = {
        {"sorted first", {{0.5, 0.5}, {0.25, 0.25}, {0, 0}, {0, 2}}, 0x4002, 0, 0, ""},
        {"descending", {{0.5, 0.5}, {0.25, 0.25}, {0, 0}, {0, 2}}, 2, -1, kFail | 0x1700,
         "argument refused: input not increasing and output decreasing from point 0 to 1"},
        {"y too large", {{0, 0}, {0.5, 1.2}, {0, 2}}, 2, -1, kFail | 0x1201,
         "argument refused: output of point 1 cannot be encoded"},
        {"steep", {{0, 0}, {3.204345703125e-5, 20 * 3.204345703125e-5}, {0, 2}}, 3, 0, 0, ""},
        {"steep checked", {{0, 0}, {3.204345703125e-5, 20 * 3.204345703125e-5}, {0, 2}}, 2, -1, kFail | 0x1800,
         "argument refused: slope after point 0 too steep"},
        {"more than the header allows", std::vector<LinearPoint>(23, LinearPoint{0, 0}), 3, 0, 0, ""},
        {"extra record not a range", {{0, 0}, {1, 1}, {0, 2.5}}, 1, -1, kFail | 0x2C00,
         "argument refused: extra record: output is not one of the amplifier's ranges"},
        {"mode 5", {{0, 0}, {0, 2}}, 5, -1, kFail | 0x2400, "argument refused: linearization mode outside 0..3"},
        {"mode -1", {{0, 0}, {0, 2}}, -1, -1, kFail | 0x2400, "argument refused: linearization mode outside 0..3"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto table = r.table;
        std::int32_t info = r.mode;
        EXPECT_EQ(copyLinear(625, table.data(), -static_cast<std::int32_t>(table.size() - 1), info), r.result);
        EXPECT_EQ(info, r.info);
        EXPECT_EQ(reasonText(), r.reason);
        if (r.mode == 0x4002) {
            EXPECT_EQ(table[0].x, 0.0);  // the caller's table is sorted
        }
    }
    EXPECT_TRUE(paramsOf(sp, 57).empty());  // checking writes nothing

    // counts the count byte cannot hold are refused before anything is sent
    std::vector<LinearPoint> big(258);
    sp.model().clearRecord();
    for (std::int32_t count : {-257, INT_MIN}) {
        std::int32_t info = 0x4003;
        EXPECT_EQ(copyLinear(625, big.data(), count, info), -1);
        EXPECT_EQ(info, kFail | 0xC00);
    }
    EXPECT_TRUE(sp.model().commands().empty());
}

TEST(LinearEdges, FlagCommandsOfTheDescribedLayout) {
    SimPort sp(626, LineKind::Virtual, amplifier(5));
    ASSERT_EQ(sp.activate(), 0);
    describedAmplifier(sp);
    struct Row {
        std::int32_t count;
        Bytes write;  // the flag command's parameters
        std::int32_t result;
        std::int32_t info;
    };
    const Row rows[] = {
        {-2, {0x00, 247, 'S'}, 0, 0},  // not set: status 30
        {-1, {0x80, 247, 'S'}, 0, 1},
        {-2, {0x00, 247, 'S'}, 0, 1},
        {-4, {0x00, 247, 'I'}, 0, 0},
        {-3, {0x80, 247, 'I'}, 0, 1},
        {1, {}, 0, 'I'},
        {-5, {}, -1, -1},  // refused as an argument
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.count);
        std::int32_t info = 99;
        sp.model().clearRecord();
        EXPECT_EQ(copyLinear(626, nullptr, r.count, info), r.result);
        EXPECT_EQ(info, r.info);
        EXPECT_EQ(NXgetLastFailure(nullptr, 0), r.result == 0 ? NXTKA_FAILURE_NONE : NXTKA_FAILURE_ARGUMENT);
        const auto writes = paramsOf(sp, 57);
        if (!r.write.empty()) {
            // marker 3, check 1, the command, removal 3
            ASSERT_EQ(writes.size(), 8u);
            EXPECT_EQ(writes[4], r.write);
        }
        EXPECT_EQ(memoryAt(sp, 0, 3), (Bytes{20, 2, 3}));  // the header is back
    }
    sp.model().scriptMemory(247, {0x52});
    std::int32_t info = 0;
    EXPECT_EQ(copyLinear(626, nullptr, -1, info), -1);
    EXPECT_EQ(info, kFail | 0x3000);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);
}

// ---------------------------------------------------------------- with the range queries

class LinearWrite : public ::testing::TestWithParam<LineKind> {};

TEST_P(LinearWrite, DescribedLayoutWrittenAndReadBackByteForByte) {
    SimPort sp(630, GetParam(), amplifier(5));
    ASSERT_EQ(sp.activate(), 0);
    describedAmplifier(sp);
    // extra record: x -3, range 2.00 (the simulator's entry 0/1)
    LinearPoint table[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}, {-3.0, 2.0}};
    std::int32_t info = 0;
    EXPECT_EQ(copyLinear(630, table, -3, info), 0);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(memoryAt(sp, 0, 4), (Bytes{20, 2, 3, 2}));
    EXPECT_EQ(memoryAt(sp, 4, 6), (Bytes{0x04, 0, 0, 0x04, 0, 0}));
    EXPECT_EQ(memoryAt(sp, 248, 4), (Bytes{0xFD, 0x00, 0x00, 0xC8}));
    EXPECT_EQ(memoryAt(sp, 256, 12), (Bytes{0x80, 0, 0x80, 0, 0xBC, 0xF4, 0xBC, 0xF4, 0xF9, 0xE8, 0xF9, 0xE8}));

    LinearPoint back[4] = {};
    EXPECT_EQ(copyLinear(630, back, 4, info), 0);
    EXPECT_EQ(info, 3);
    EXPECT_DOUBLE_EQ(back[1].x, (0xBCF4 - 32768) * 3.204345703125e-5);
    EXPECT_DOUBLE_EQ(back[2].y, (0xF9E8 - 32768) * 3.204345703125e-5);
    EXPECT_EQ(back[3].x, -3.0);
    EXPECT_EQ(back[3].y, 2.0);

    // an empty table writes the count byte alone
    sp.model().clearRecord();
    LinearPoint none[] = {{0.0, 2.0}};
    info = 0;
    EXPECT_EQ(copyLinear(630, none, 0, info), 0);
    EXPECT_EQ(memoryAt(sp, 3, 1), Bytes{0});
    std::vector<int> written;  // plain writes outside the marker
    for (const auto& p : paramsOf(sp, 57))
        if ((p[0] & 0x80) == 0 && p[1] > 2) written.push_back(p[1]);
    EXPECT_EQ(written, (std::vector<int>{3, 248, 249, 250, 251}));  // count byte, extra record
}

TEST(LinearWriteLegacy, WritesSlopesSlotBySlot) {
    SimPort sp(631, LineKind::Virtual, amplifier(4));
    ASSERT_EQ(sp.activate(), 0);
    sp.model().setReg(cmd::kGetRange, 25);
    const double range = TKAgetRange(631);
    ASSERT_EQ(range, 2.5);
    sp.model().setMemory(259, 0x77);
    LinearPoint table[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}, {0.0, -range}};
    std::int32_t info = 0;
    sp.model().clearRecord();
    EXPECT_EQ(copyLinear(631, table, -3, info), 0);
    EXPECT_EQ(memoryAt(sp, 0, 12), (Bytes{0x80, 0, 0x80, 0, 0xBC, 0xF4, 0xBC, 0xF4, 0xF9, 0xE8, 0xF9, 0xE8}));
    EXPECT_EQ(memoryAt(sp, 256, 8), (Bytes{0x04, 0, 0, 0x77, 0x04, 0, 0, 0}));
    EXPECT_EQ(memoryAt(sp, 72, 1), Bytes{2});
    LinearPoint wrong[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}, {0.0, -range - 1.0}};
    EXPECT_EQ(copyLinear(631, wrong, -3, info), -1);
    EXPECT_EQ(info, kFail | 0x2C00);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ARGUMENT);
}

INSTANTIATE_TEST_SUITE_P(Lines, LinearWrite, ::testing::Values(LineKind::Virtual, LineKind::Pty));

}  // namespace
}  // namespace nxtka
