// The command exchange end to end: the receive thread parses the answers a
// scripted amplifier sends, on the virtual device and on a pseudo-terminal.
#include "core/command_exchange.h"
#include "core/serial_link.h"
#include "support/line.h"
#include "support/test_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace nxtka {
namespace {

using test::answer;
using test::LineKind;
using test::Reply;

class Exchange : public ::testing::TestWithParam<LineKind> {
protected:
    void start(test::ScriptedPeer::Script script) {
        line = test::makeLine(GetParam());
        if (line.pty) {
            ASSERT_TRUE(line.pty->ok());
        }
        peer = std::make_unique<test::ScriptedPeer>(line.peer(), std::move(script));
        session = std::make_unique<test::TestSession>(test::openRaw(line));
        ASSERT_TRUE((*session)->device);
    }
    void TearDown() override {
        session.reset();
        peer.reset();
    }
    PortSession& s() { return **session; }

    test::Line line;
    std::unique_ptr<test::ScriptedPeer> peer;
    std::unique_ptr<test::TestSession> session;
};

std::uint32_t elapsedSince(std::uint32_t start) { return platform::tickCount() - start; }

TEST_P(Exchange, AnswerIsDecodedBigEndian) {
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 1) return Reply{{';', 0x80, 0x00, 0x00}};
        if (code == 43) return Reply{answer(0x0C08, 2)};
        if (code == 33) return Reply{{';', 0xFF, 0xFF, 0xFF, 0xFF}};
        return Reply{};
    });
    std::uint32_t v = 0;
    ASSERT_TRUE(requestValue(s(), cmd::kGetScale, CommandParam::none(), v));
    EXPECT_EQ(v, 8388608u);
    ASSERT_TRUE(requestValue(s(), cmd::kGetFirmware, CommandParam::none(), v));
    EXPECT_EQ(v, 0x0C08u);
    ASSERT_TRUE(requestValue(s(), cmd::kGetThreshold, CommandParam::none(), v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(s().pendingCommand.load(), kNoCommand);
}

TEST_P(Exchange, LongAnswersAreCopiedInOrder) {
    start([](int code, const std::vector<std::uint8_t>& p) {
        if (code == 31) return Reply{{';', 1, 2, 3, 4, 5, 6, 7, 8}};
        if (code == 56) return Reply{{';', p[0], 0xAA, 0xBB, 0xCC, 0xDD}};
        return Reply{};
    });
    std::uint8_t serial[8] = {};
    ASSERT_TRUE(requestAnswer(s(), cmd::kGetSerialNo, CommandParam::none(), serial, kAnswerTimeoutMs));
    EXPECT_EQ(std::vector<std::uint8_t>(serial, serial + 8), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    std::uint8_t cell[8] = {};
    ASSERT_TRUE(requestAnswer(s(), cmd::kReadMemory, CommandParam::of(0x42), cell, kAnswerTimeoutMs));
    EXPECT_EQ(std::vector<std::uint8_t>(cell, cell + 5), (std::vector<std::uint8_t>{0x42, 0xAA, 0xBB, 0xCC, 0xDD}));
}

TEST_P(Exchange, IdentificationSetsTheProtocolLevel) {
    // Shared with the peer thread, which outlives this function's frame.
    auto level = std::make_shared<std::atomic<int>>(3);
    start([level](int code, const std::vector<std::uint8_t>& p) {
        if (code == 42 && p == std::vector<std::uint8_t>{3}) {
            if (level->load() == 0) return Reply{{';', 0x00, 0x10, 0x05}};
            return Reply{{'$', 0x00, 0x10, 0x05, static_cast<std::uint8_t>(level->load())}};
        }
        return Reply{};
    });
    std::uint32_t v = 0;
    ASSERT_TRUE(requestValue(s(), cmd::kIdentify, CommandParam::of(3), v));
    EXPECT_EQ(v, 0x001005u);
    EXPECT_EQ(s().deviceLevel.load(), 3);
    *level = 0;
    ASSERT_TRUE(requestValue(s(), cmd::kIdentify, CommandParam::of(3), v));
    EXPECT_EQ(s().deviceLevel.load(), 0);
}

TEST_P(Exchange, SilentAmplifierTimesOut) {
    start([](int, const std::vector<std::uint8_t>&) { return Reply{}; });
    std::uint32_t v = 0;
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_FALSE(requestValue(s(), cmd::kGetScale, CommandParam::none(), v));
    const std::uint32_t took = elapsedSince(t0);
    EXPECT_GE(took, 990u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(s().pendingCommand.load(), kNoCommand);
    EXPECT_EQ(peer->codes(), std::vector<int>{1});
}

TEST_P(Exchange, LateAnswerIsDroppedWhenNothingIsPending) {
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 2) return Reply{answer(0x111111, 3), 300};
        if (code == 22) return Reply{answer(0x222222, 3)};
        return Reply{};
    });
    std::uint32_t v = 0;
    EXPECT_FALSE(requestValue(s(), cmd::kGetZero, CommandParam::none(), v, 100));
    platform::sleepMs(500);  // the late answer arrives while nothing is pending
    ASSERT_TRUE(requestValue(s(), cmd::kGetFreq, CommandParam::none(), v));
    EXPECT_EQ(v, 0x222222u);
}

TEST_P(Exchange, NextCommandWaitsForTheLateAnswerAndDropsIt) {
    // The late answer is one byte long, the next command's three: taken as
    // that command's answer, it would swallow the start of the real one.
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 39) return Reply{answer(0x41, 1), 200};
        if (code == 22) return Reply{answer(0x222222, 3)};
        return Reply{};
    });
    std::uint32_t v = 0;
    EXPECT_FALSE(requestValue(s(), cmd::kGetMode, CommandParam::none(), v, 100));
    ASSERT_TRUE(requestValue(s(), cmd::kGetFreq, CommandParam::none(), v));
    EXPECT_EQ(v, 0x222222u);
    ASSERT_TRUE(requestValue(s(), cmd::kGetFreq, CommandParam::none(), v));
    EXPECT_EQ(v, 0x222222u);
}

TEST_P(Exchange, LateAnswersNeverWriteIntoAbandonedStorage) {
    // Answers arrive right around the caller's time-out; the storage of each
    // exchange is freed as soon as the exchange returns. A late write into it
    // would be a use after free.
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 1) return Reply{answer(0x010203, 3), 20};
        return Reply{};
    });
    int answered = 0;
    for (int i = 0; i < 30; ++i) {
        auto slot = std::make_unique<std::uint32_t>(0);
        answered += requestAnswer(s(), cmd::kGetScale, CommandParam::none(), slot.get(), 15 + static_cast<std::uint32_t>(i % 10)) ? 1 : 0;
        slot.reset();
        platform::sleepMs(static_cast<std::uint32_t>(i % 7));
    }
    platform::sleepMs(100);
    // Some of them made it, some did not; nothing was corrupted either way.
    EXPECT_EQ(s().pendingCommand.load(), kNoCommand);
    std::uint32_t v = 0;
    platform::sleepMs(50);
    EXPECT_TRUE(requestValue(s(), cmd::kGetScale, CommandParam::none(), v, 500));
    (void)answered;
}

TEST_P(Exchange, ValueFrameCompletesACommandWithoutAnswerBytes) {
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 11) return Reply{{0xA5, 0x12, 0x34}, 50};
        return Reply{};
    });
    std::uint32_t word = 0;
    beginExchange(s(), cmd::kCalibrate, &word);
    ASSERT_TRUE(sendCommand(s(), cmd::kCalibrate));
    EXPECT_EQ(waitAnswer(s(), 2000), 0u);
    EXPECT_TRUE(endExchange(s(), false));
    EXPECT_TRUE(session->waitForRecords(1));
}

TEST_P(Exchange, MeasuredValuesEnterTheRingBetweenAnswers) {
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 4) return Reply{{',', 0x01, 0x00, 0x00, 0x05, ';', 0x00, 0x07, 0xA5, 0x00, 0x09}};
        return Reply{};
    });
    std::uint32_t v = 0;
    ASSERT_TRUE(requestValue(s(), cmd::kGetOffset, CommandParam::none(), v));
    EXPECT_EQ(v, 7u);
    ASSERT_TRUE(session->waitForRecords(2));
    session->ringMutex().lock();
    EXPECT_EQ(s().ring.takeOldest().value, 5u);
    EXPECT_EQ(s().ring.takeOldest().value, 9u);
    session->ringMutex().unlock();
}

TEST_P(Exchange, HangUpFailsEveryWaitAtOnceAndCloseStillFinishes) {
    start([](int code, const std::vector<std::uint8_t>&) {
        if (code == 1) return Reply{answer(1, 3)};
        return Reply{};
    });
    std::uint32_t v = 0;
    ASSERT_TRUE(requestValue(s(), cmd::kGetScale, CommandParam::none(), v));
    if (line.link) {
        line.link->hangUp();
    } else {
        peer->stop();
        line.pty->hangUp();
    }
    const std::uint32_t waitStart = platform::tickCount();
    while (s().commError.load() == 0 && elapsedSince(waitStart) < 3000) platform::sleepMs(5);
    ASSERT_NE(s().commError.load(), 0u);
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_FALSE(requestValue(s(), cmd::kGetScale, CommandParam::none(), v));
    EXPECT_LT(elapsedSince(t0), 500u);
    const std::uint32_t t1 = platform::tickCount();
    session.reset();
    EXPECT_LT(elapsedSince(t1), 2000u);
}

INSTANTIATE_TEST_SUITE_P(Lines, Exchange, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

TEST(ExchangeFaults, ReadErrorFailsLaterWaitsAtOnceWhileValuesStillArrive) {
    test::Line line = test::makeLine(LineKind::Virtual);
    test::ScriptedPeer peer(line.peer(), [](int code, const std::vector<std::uint8_t>&) {
        if (code == 1) return Reply{answer(1, 3)};
        return Reply{};
    });
    test::TestSession session(test::openRaw(line));
    line.link->injectReadError(31);
    line.link->peerWrite({0xA5, 0, 1});
    ASSERT_TRUE(session.waitForRecords(1));
    EXPECT_EQ(session->commError.load(), 31u);
    std::uint32_t v = 0;
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_FALSE(requestValue(*session, cmd::kGetScale, CommandParam::none(), v));
    EXPECT_LT(platform::tickCount() - t0, 500u);
    ASSERT_TRUE(peer.waitForCommands(1));  // the command was still sent
    EXPECT_EQ(peer.codes(), std::vector<int>{1});
    line.link->peerWrite({0xA5, 0, 2});
    EXPECT_TRUE(session.waitForRecords(2));
}

}  // namespace
}  // namespace nxtka
