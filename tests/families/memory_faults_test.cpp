// Memory and linearization transfers under faults: a data byte changed on
// the line (only a read-back can see it), a hang-up in the middle of a
// transfer, and table reads that fail part-way.
#include "support/family_tests.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace nxtka {
namespace {

using test::LineKind;
using test::SimPort;
using test::describedAmplifier;
using test::Bytes;
using test::load;
using test::memoryAt;
using test::reasonText;

constexpr std::int32_t kFail = INT32_MIN;  // bit 31 of an error info

sim::Config amplifier(int level, std::uint8_t memoryWait = 5) {
    sim::Config c;
    c.level = level;
    c.options = 0x80;
    c.memoryWait = memoryWait;  // in 2 ms steps
    c.stream.rate = 0;
    return c;
}

sim::Faults flipping(std::size_t address) {
    sim::Faults f;
    f.flipWrittenBit.set(address);
    return f;
}

std::vector<int> wordsRead(SimPort& sp) {
    std::vector<int> out;
    for (const auto& c : sp.model().commands())
        if (c.code == cmd::kReadMemory) out.push_back(c.params[0]);
    return out;
}

// ---------------------------------------------------------------- verified writes

TEST(VerifiedWrite, ReadsBackAndNamesTheFirstAddressThatDiffers) {
    SimPort sp(640, LineKind::Virtual, amplifier(3));
    ASSERT_EQ(sp.activate(), 0);
    const Bytes data{1, 2, 3, 0x2A, 5, 6, 7, 8};  // 0x2A goes to 43
    struct Row {
        const char* what;
        std::function<void(sim::AmplifierModel&)> fault;
        std::int32_t result;
        std::int32_t firstDifference;
        int reason;
        const char* text;
        Bytes held;  // 40..47 afterwards
    };
    const Row rows[] = {
        {"clean line", [](sim::AmplifierModel&) {}, 8, -1, NXTKA_FAILURE_NONE, "", data},
        {"bit 0 flipped on the way to 43", [](sim::AmplifierModel& m) { m.setFaults(flipping(43)); }, -1, 43,
         NXTKA_FAILURE_ANSWER, "the amplifier answered: address 43 holds 0x2B, 0x2A was written",
         {1, 2, 3, 0x2B, 5, 6, 7, 8}},
        {"42 refused", [](sim::AmplifierModel& m) { m.scriptMemory(42, {0x52}); }, -1, 42, NXTKA_FAILURE_ANSWER,
         "the amplifier answered: status 18 (a failure, byte 0x52) writing memory at 42", {1, 2, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        load(sp, 40, Bytes(8, 0));
        sp.model().setFaults({});
        r.fault(sp.model());
        std::int32_t first = 99;
        EXPECT_EQ(NXwriteMemoryVerified(640, 40, data.data(), 8, &first), r.result);
        EXPECT_EQ(first, r.firstDifference);
        EXPECT_EQ(NXgetLastFailure(nullptr, 0), r.reason);
        EXPECT_EQ(reasonText(), r.text);
        EXPECT_EQ(memoryAt(sp, 40, 8), r.held);
    }

    // The plain block write, as the protocol has it, cannot see the change.
    load(sp, 40, Bytes(8, 0));
    sp.model().setFaults(flipping(43));
    Bytes copy = data;
    EXPECT_EQ(TKAcopyMemory(640, -8, 40, copy.data()), 8);
    EXPECT_EQ(memoryAt(sp, 40, 8), (Bytes{1, 2, 3, 0x2B, 5, 6, 7, 8}));

    // Ranges outside the 1024 bytes are refused unsent.
    sp.model().clearRecord();
    for (const auto& [address, count] : {std::pair{1020u, 8}, std::pair{1024u, 1}, std::pair{0u, 0}}) {
        std::int32_t first = 99;
        EXPECT_EQ(NXwriteMemoryVerified(640, address, data.data(), count, &first), -1) << address << " " << count;
        EXPECT_EQ(first, -1);
        EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ARGUMENT);
    }
    EXPECT_TRUE(sp.model().commands().empty());
}

TEST(VerifiedLinearWrite, AByteChangedOnTheLineFailsTheWrite) {
    SimPort sp(641, LineKind::Virtual, amplifier(5));
    ASSERT_EQ(sp.activate(), 0);
    describedAmplifier(sp);
    // point 1: x = 0.5 / 3.204345703125e-5 + 32768 = 48371.8 -> 0xBCF4, its high byte at 260
    LinearPoint table[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}, {-3.0, 2.0}};
    sp.model().setFaults(flipping(260));
    std::int32_t info = 0;
    EXPECT_EQ(TKAcopyLinear(641, table, -3, &info), -1);
    EXPECT_EQ(info, kFail | 0x2000);
    EXPECT_EQ(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_ANSWER);
    EXPECT_EQ(reasonText(), "the amplifier answered: address 260 holds 0xBD, 0xBC was written");
    EXPECT_EQ(memoryAt(sp, 0, 3), (Bytes{20, 2, 3}));  // the marker removed all the same

    // Without the read-back the write goes through as the protocol has it.
    sp.model().clearRecord();
    info = NXTKA_LINEAR_NO_VERIFY;
    EXPECT_EQ(TKAcopyLinear(641, table, -3, &info), 0);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(memoryAt(sp, 256, 8), (Bytes{0x80, 0, 0x80, 0, 0xBD, 0xF4, 0xBC, 0xF4}));
    for (const int word : wordsRead(sp)) EXPECT_LT(word, 64) << "a point read back";
}

// ---------------------------------------------------------------- failed table reads

TEST(LinearRead, AFailurePartWayLeavesTheCallersTableAlone) {
    struct Row {
        const char* what;
        bool header;
        std::function<void(SimPort&)> fault;
        std::int32_t info;
    };
    const Row rows[] = {
        {"extra record refused", true, [](SimPort& sp) { sp.model().scriptMemory(248, {0x52}); }, kFail | 0x2000},
        // the legacy extra record is the input range: entry 0/0 "no such entry" makes it unreadable
        {"input range unreadable", false, [](SimPort& sp) { sp.model().setRangeEntry(0, 0, 0xFFFFFFFFu); }, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SimPort sp(642, LineKind::Virtual, amplifier(5));
        ASSERT_EQ(sp.activate(), 0);
        if (r.header) describedAmplifier(sp);
        sp.model().setMemory(r.header ? 3 : 72, 2);  // 3 points stored
        load(sp, r.header ? 256 : 0, {0x90, 0, 0x90, 0, 0xA0, 0, 0xA0, 0, 0xB0, 0, 0xB0, 0});
        r.fault(sp);
        LinearPoint table[5];
        for (LinearPoint& p : table) p = {7.0, 7.0};
        std::int32_t info = 0;
        EXPECT_EQ(TKAcopyLinear(642, table, 5, &info), -1);
        EXPECT_EQ(info, r.info);
        EXPECT_NE(NXgetLastFailure(nullptr, 0), NXTKA_FAILURE_NONE);
        for (const LinearPoint& p : table) {
            EXPECT_EQ(p.x, 7.0);
            EXPECT_EQ(p.y, 7.0);
        }
    }
}

// ---------------------------------------------------------------- a hang-up during a transfer

struct DeadLineRow {
    const char* name;
    bool statuses;  // the buffer holds a status per byte afterwards
    std::function<std::int32_t(unsigned, std::uint8_t*)> transfer;
};
void PrintTo(const DeadLineRow& r, std::ostream* os) { *os << r.name; }

// 16 points on a line of slope 1, and the legacy extra record (range 1).
std::int32_t writeLongTable(unsigned port) {
    LinearPoint table[17];
    for (int i = 0; i < 16; ++i) table[i] = {i / 16.0, i / 16.0};
    table[16] = {0.0, -1.0};
    std::int32_t info = 0;
    return TKAcopyLinear(port, table, -16, &info);
}

const DeadLineRow kDeadLineRows[] = {
    {"CheckWrite", true, [](unsigned p, std::uint8_t* b) { return TKAcheckMemory(p, -64, 0, b); }},
    {"CheckRead", true, [](unsigned p, std::uint8_t* b) { return TKAcheckMemory(p, 64, 0, b); }},
    {"CopyWrite", false, [](unsigned p, std::uint8_t* b) { return TKAcopyMemory(p, -64, 0, b); }},
    {"VerifiedWrite", false, [](unsigned p, std::uint8_t* b) { return NXwriteMemoryVerified(p, 0, b, 64, nullptr); }},
    {"LinearWrite", false, [](unsigned p, std::uint8_t*) { return writeLongTable(p); }},
};

class MemoryDeadLine : public ::testing::TestWithParam<DeadLineRow> {};

// Before, every byte left was tried three times after the hang-up (about
// half a second each, half a minute for 64 bytes), and a release from
// another thread waited behind it.
TEST_P(MemoryDeadLine, TransferStopsAndAReleaseFollows) {
    constexpr unsigned kPort = 643;
    SimPort sp(kPort, LineKind::Pty, amplifier(5, 25));  // 50 ms settling before every byte
    ASSERT_EQ(sp.activate(), 0);
    auto moved = [&sp] { return sp.model().commandCount(cmd::kReadMemory) + sp.model().commandCount(cmd::kWriteMemory); };
    const std::size_t before = moved();
    std::vector<std::uint8_t> buffer(64, 0x5A);
    struct Outcome {
        std::int32_t result;
        int reason;
        std::string text;
    };
    auto transfer = std::async(std::launch::async, [&] {
        const std::int32_t r = GetParam().transfer(kPort, buffer.data());
        const int reason = NXgetLastFailure(nullptr, 0);
        return Outcome{r, reason, reasonText()};
    });
    ASSERT_TRUE(test::eventually([&] { return moved() >= before + 8; }, 10000));
    sp.model().hangUp();
    test::onOtherThread("a release during a transfer on a dead line", 5000, [] {
        TKArelease(kPort);
        return 0;
    });
    ASSERT_EQ(transfer.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    const Outcome out = transfer.get();
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.reason, NXTKA_FAILURE_DEVICE);
    EXPECT_EQ(out.text.rfind("device failed while reading", 0), 0u) << out.text;
    if (GetParam().statuses) {
        EXPECT_LT(buffer.front(), 16);   // answered before the hang-up
        EXPECT_EQ(buffer.back(), 255);   // never tried
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MemoryDeadLine, ::testing::ValuesIn(kDeadLineRows),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nxtka
