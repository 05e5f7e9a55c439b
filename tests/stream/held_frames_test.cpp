// Values that arrive while values are held (during an activation, a drain):
// the receive thread counts them and never stores them, and they still
// complete a command that has no answer bytes.
#include "core/command_exchange.h"
#include "support/line.h"
#include "support/test_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace nxtka {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kValue24{',', 0x01, 0x00, 0x00, 0x05};
const Bytes kValueStatus16{'&', 0xA3, 0x80, 0x00};
const Bytes kValue16{0xA5, 0x12, 0x34};
const Bytes kValueText{'-', ' ', '2', '.', '5', '\r', '\n'};

constexpr int kNoAnswerCode = 11;  // no parameter, no answer bytes
constexpr int kFirmwareCode = 43;  // two answer bytes

class HeldFrames : public ::testing::Test {
protected:
    void SetUp() override {
        session = std::make_unique<test::TestSession>(test::openRaw(line));
        ASSERT_TRUE((*session)->device);
        s().holdValues = 1;
    }
    PortSession& s() { return **session; }

    // Sends `bytes` and then an answer to a firmware query: once that is
    // answered, everything before it has been parsed.
    void sendThenSync(const Bytes& bytes) {
        std::uint32_t word = 0;
        beginExchange(s(), kFirmwareCode, &word);
        Bytes all = bytes;
        all.insert(all.end(), {';', 0x0C, 0x10});
        line.link->peerWrite(all);
        EXPECT_EQ(waitAnswer(s(), 3000), 0u);
        ASSERT_TRUE(endExchange(s(), false));
        EXPECT_EQ(word, 0x0C100000u);
    }

    test::Line line = test::makeLine(test::LineKind::Virtual);
    std::unique_ptr<test::TestSession> session;
};

TEST_F(HeldFrames, AreCountedUpToTheTopOfTheCounterAndStayThere) {
    struct Case {
        const char* name;
        std::uint32_t before;
        std::uint32_t after;  // after one frame of each of the four kinds
    };
    const Case cases[] = {
        {"from zero", 0, 4},
        {"up to the top", 0xFFFFFFFBu, 0xFFFFFFFFu},
        {"beyond the top", 0xFFFFFFFDu, 0xFFFFFFFFu},
        {"at the top", 0xFFFFFFFFu, 0xFFFFFFFFu},
    };
    Bytes frames;
    for (const Bytes* f : {&kValue24, &kValueStatus16, &kValue16, &kValueText}) frames.insert(frames.end(), f->begin(), f->end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s().heldFrames = c.before;
        sendThenSync(frames);
        EXPECT_EQ(s().heldFrames.load(), c.after);
        EXPECT_EQ(session->ringCount(), 0u);
    }
}

TEST_F(HeldFrames, CompleteACommandWithoutAnswerBytes) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool completes;
        std::uint32_t held;
    };
    const Case cases[] = {
        {"24-bit value", kValue24, true, 1},
        {"16-bit value with status", kValueStatus16, true, 1},
        {"16-bit value", kValue16, true, 1},
        {"text value", kValueText, true, 1},
        {"a lone answer mark", {';'}, true, 0},
        {"status byte without 101 on top: no value", {'&', 0x43, 0x80, 0x00}, false, 0},
        {"level answer while 42 is not pending", {'$', 0x00, 0x10, 0x05, 0x03}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s().heldFrames = 0;
        std::uint32_t word = 0xDEADBEEF;
        beginExchange(s(), kNoAnswerCode, &word);
        line.link->peerWrite(c.bytes);
        EXPECT_EQ(waitAnswer(s(), c.completes ? 3000 : 300), 0u);
        EXPECT_EQ(endExchange(s(), false), c.completes);
        EXPECT_EQ(s().pendingCommand.load(), kNoCommand);
        sendThenSync({});
        EXPECT_EQ(s().heldFrames.load(), c.held);
        EXPECT_EQ(session->ringCount(), 0u);
    }
}

}  // namespace
}  // namespace nxtka
