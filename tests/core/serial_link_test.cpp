// Command encoding and the write path, on the virtual device (which shows
// every byte and can make the device misbehave).
#include "core/command_exchange.h"
#include "core/serial_link.h"
#include "support/line.h"
#include "support/test_session.h"

#include <gtest/gtest.h>

namespace nxtka {
namespace {

using test::LineKind;

struct LinkFixture : ::testing::Test {
    test::Line line = test::makeLine(LineKind::Virtual);
    std::unique_ptr<test::TestSession> session;
    void SetUp() override {
        session = std::make_unique<test::TestSession>(test::openRaw(line));
        ASSERT_TRUE((*session)->device);
    }
    std::vector<std::uint8_t> written() { return line.link->written(); }
};

TEST_F(LinkFixture, ValueParametersAreTheLowBytesMostSignificantFirst) {
    ASSERT_TRUE(sendSetting(**session, cmd::kSetFreq, 0x00012345));  // two parameter bytes
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{18, 0x23, 0x45}));
    ASSERT_TRUE(sendSetting(**session, cmd::kWriteScale, 0x00123456));  // three
    ASSERT_TRUE(sendSetting(**session, cmd::kSetThreshold, 0xDEADBEEF));  // four: the whole value
    ASSERT_TRUE(sendSetting(**session, cmd::kGetOffset, 0xFFFFFFFF));   // none
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{18, 0x23, 0x45, 5, 0x12, 0x34, 0x56, 32, 0xDE, 0xAD, 0xBE, 0xEF, 4}));
}

TEST_F(LinkFixture, CommandWithoutParameterBytesGoesAlone) {
    ASSERT_TRUE(sendCommand(**session, cmd::kWriteSerialNo));  // its row has eight parameter bytes
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{30}));
    const std::uint8_t params[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_TRUE(sendCommand(**session, cmd::kSetFreq, params));  // only the table's two are taken
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{30, 18, 1, 2}));
}

TEST_F(LinkFixture, DelayedCommandWritesEveryByteAfterAPause) {
    const std::uint8_t params[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto flushesBefore = line.link->record().flushes;
    const std::uint32_t start = platform::tickCount();
    ASSERT_TRUE(sendCommand(**session, cmd::kWriteSerialNo, params, 10));
    const std::uint32_t elapsed = platform::tickCount() - start;
    EXPECT_GE(elapsed, 9u * 11u);  // nine pauses of more than 10 ms
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{30, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(line.link->record().flushes - flushesBefore, 9);  // nine single writes
}

TEST_F(LinkFixture, FlushThatIsNotSupportedIsToleratedAndRemembered) {
    auto f = line.link->faults();
    f.flushError = platform::errorCodes().invalidFunction;
    line.link->setFaults(f);
    EXPECT_TRUE(sendCommand(**session, cmd::kStopTransmit));
    EXPECT_EQ((*session)->flushSupported.load(), 0);
    EXPECT_TRUE(sendCommand(**session, cmd::kStartTransmit));
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{35, 36}));
}

TEST_F(LinkFixture, OtherFlushErrorsFailTheWrite) {
    auto f = line.link->faults();
    f.flushError = 5;
    line.link->setFaults(f);
    EXPECT_FALSE(sendCommand(**session, cmd::kStopTransmit));
    EXPECT_EQ((*session)->flushSupported.load(), 0);
}

TEST_F(LinkFixture, FailedAndShortWritesReportFailure) {
    auto f = line.link->faults();
    f.writeError = 5;
    line.link->setFaults(f);
    EXPECT_EQ(writeBytes(**session, reinterpret_cast<const std::uint8_t*>("abc"), 3), 0);
    f.writeError = 0;
    f.shortWrite = 2;
    line.link->setFaults(f);
    EXPECT_EQ(writeBytes(**session, reinterpret_cast<const std::uint8_t*>("abc"), 3), 0);
    f.shortWrite = 0;
    line.link->setFaults(f);
    EXPECT_EQ(writeBytes(**session, reinterpret_cast<const std::uint8_t*>("abc"), 3), 1);
}

TEST_F(LinkFixture, PendingWriteIsWaitedForAndThenFlushed) {
    auto f = line.link->faults();
    f.holdWrites = true;
    line.link->setFaults(f);
    std::thread releaser([&] {
        platform::sleepMs(50);
        line.link->completePendingWrite();
    });
    EXPECT_EQ(writeBytes(**session, reinterpret_cast<const std::uint8_t*>("xyz"), 3), 1);
    releaser.join();
    EXPECT_EQ(written(), (std::vector<std::uint8_t>{'x', 'y', 'z'}));
}

// A clock whose sleeps end exactly where a row says: `error` ticks late (or
// early, never below one tick), the tick counter advancing in steps of
// `granule` ms, as the system timers of some platforms do.
struct FakeClock {
    static inline std::uint64_t now = 0;  // true time, ms
    static inline std::uint32_t granule = 1;
    static inline int error = 0;
    static inline int sleeps = 0;

    static std::uint32_t tick() { return static_cast<std::uint32_t>(now - now % granule); }
    static void sleep(std::uint32_t ms) {
        if (++sleeps > 100) {  // a pause that never ends: end it, far too late
            now += 1000000;
            return;
        }
        std::int64_t advance = static_cast<std::int64_t>(ms) + error;
        if (ms > 0 && advance < 1) advance = 1;
        if (advance < 0) advance = 0;
        now += static_cast<std::uint64_t>(advance);
        if (now % granule != 0) now += granule - now % granule;  // woken on the next tick
    }
};

struct PauseCase {
    const char* name;
    std::uint32_t ms;
    std::uint64_t start;
    std::uint32_t granule;
    int error;
    std::uint32_t latest;  // ticks: the first tick beyond `ms` the sleeps can reach
};

// The pause passes more than the time given, and never much more: a sleep
// that ends on the exact tick must not make it sleep the whole time again.
TEST(WaitMilliseconds, EndsOnTheFirstTickItCanReachBeyondTheTimeGiven) {
    const PauseCase cases[] = {
        {"exact sleeps", 300, 1000, 1, 0, 301},
        {"exact sleeps, no time", 0, 1000, 1, 0, 1},
        {"exact sleeps across the counter's wrap", 250, 0xFFFFFF80u, 1, 0, 251},
        {"sleeps one tick short", 300, 1000, 1, -1, 301},
        {"sleeps three ticks late", 10, 1000, 1, 3, 13},
        {"16 ms ticks, the pause a whole number of them", 32, 0, 16, 0, 48},
        {"16 ms ticks, started between two", 300, 5, 16, 0, 320},
    };
    const PauseClock clock{&FakeClock::tick, &FakeClock::sleep};
    for (const PauseCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock::now = c.start;
        FakeClock::granule = c.granule;
        FakeClock::error = c.error;
        FakeClock::sleeps = 0;
        const std::uint32_t t0 = FakeClock::tick();
        waitMilliseconds(c.ms, clock);
        const std::uint32_t elapsed = FakeClock::tick() - t0;
        EXPECT_GT(elapsed, c.ms);
        EXPECT_LE(elapsed, c.latest);
    }
}

TEST(WaitMilliseconds, AlwaysPassesMoreThanTheTimeGiven) {
    for (std::uint32_t ms : {0u, 1u, 15u}) {
        const std::uint32_t start = platform::tickCount();
        waitMilliseconds(ms);
        EXPECT_GT(platform::tickCount() - start, ms);
    }
}

// The integer forms cannot carry more than 4 bytes: a code with a longer
// parameter or answer does not compile with them (tests/extra/refused_codes.cpp).
// The exchange that takes any code refuses such a code, and a value for an undefined one,
// before anything is written.
TEST_F(LinkFixture, IntegerFormsRefuseCodesLongerThanAWord) {
    std::uint8_t slot[8] = {};
    EXPECT_FALSE(requestAnswer(**session, cmd::kWriteSerialNo, CommandParam::of(1), slot, 10));
    EXPECT_FALSE(requestAnswer(**session, 100, CommandParam::of(1), slot, 10));  // 71..127 are undefined
    EXPECT_TRUE(written().empty());
}

}  // namespace
}  // namespace nxtka
