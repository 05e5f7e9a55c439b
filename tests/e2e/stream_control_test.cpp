// Stopping, starting and flushing the value stream, single values on request.
#include "core/command_exchange.h"
#include "core/port_table.h"
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using sim::AmplifierModel;
using test::eventually;
using test::LineKind;
using test::roundTrip;
using test::SimPort;
using test::requestValues;
using test::since;


// Bipolar 24-bit, the simulator's default frames.
double converted(double level) {
    const std::uint32_t raw = AmplifierModel::rawCode24(level, true);
    return static_cast<double>(static_cast<std::int32_t>(raw) - 8388608) * 1.2516975402832032e-7;
}

std::vector<double> readAll(unsigned port) {
    std::vector<double> v(256);
    std::int32_t n = 0;
    const int r = TKAreadMultiple(port, v.data(), 256, &n);
    EXPECT_GE(r, 0);
    v.resize(r == 1 ? static_cast<std::size_t>(n) : 0u);
    return v;
}

sim::Config onRequest() {
    sim::Config c;
    c.stream.rate = 0;
    return c;
}

sim::Config streaming(double rate) {
    sim::Config c;
    c.stream.rate = rate;
    return c;
}

class StreamControl : public ::testing::TestWithParam<LineKind> {};

TEST_P(StreamControl, FlushDropsWhatWaitsAndReportsWhetherAnythingDid) {
    SimPort sp(201, GetParam(), onRequest());
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(TKAflushBuffer(201), 0);
    requestValues(sp, 5);
    EXPECT_EQ(TKAreceived(201), 1);
    sp.model().clearRecord();
    EXPECT_EQ(TKAflushBuffer(201), 1);
    EXPECT_EQ(sp.codes(), std::vector<int>{4});  // the marker, nothing else
    EXPECT_EQ(TKAreceived(201), 0);
    EXPECT_EQ(TKAflushBuffer(201), 0);

    // New values are stored again afterwards.
    requestValues(sp, 1);
    const auto v = readAll(201);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], converted(0.25));
}

TEST_P(StreamControl, StopAndStartSwitchTheAmplifiersStream) {
    SimPort sp(202, GetParam(), streaming(100));
    ASSERT_EQ(sp.activate(), 0);
    ASSERT_TRUE(eventually([] { return TKAreceived(202) == 1; }));

    sp.model().clearRecord();
    ASSERT_EQ(TKAstopTransmit(202), 0);
    EXPECT_FALSE(sp.model().transmitting());
    auto cmds = sp.model().commands();
    ASSERT_EQ(sp.codes(), (std::vector<int>{35, 4}));
    // More than 300 ms pass between the writes; the simulator may read the first
    // byte late, so its arrival times show a little less.
    EXPECT_GE(cmds[1].at - cmds[0].at, std::chrono::milliseconds(250));  // the amplifier had time to stop
    EXPECT_EQ(TKAreceived(202), 0);
    const std::uint64_t sent = sp.model().framesSent();
    platform::sleepMs(150);
    EXPECT_EQ(sp.model().framesSent(), sent);
    EXPECT_EQ(TKAreceived(202), 0);

    // Single values still come while the stream is off.
    requestValues(sp, 1);
    EXPECT_EQ(readAll(202).size(), 1u);

    sp.model().clearRecord();
    ASSERT_EQ(TKAstartTransmit(202), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kStartTransmit, std::chrono::seconds(3)));
    EXPECT_EQ(sp.codes(), (std::vector<int>{4, 36}));
    EXPECT_TRUE(sp.model().transmitting());
    ASSERT_TRUE(eventually([] { return TKAreceived(202) == 1; }));
    for (const double v : readAll(202)) EXPECT_EQ(v, converted(0.25));
}

TEST_P(StreamControl, ClearMaxValueSendsItsCodeThenDrains) {
    SimPort sp(203, GetParam(), streaming(100));
    ASSERT_EQ(sp.activate(), 0);
    ASSERT_TRUE(eventually([] { return TKAreceived(203) == 1; }));
    sp.model().clearRecord();
    ASSERT_EQ(TKAclearMaxValue(203), 0);
    const auto cmds = sp.model().commands();
    ASSERT_EQ(sp.codes(), (std::vector<int>{60, 4}));
    EXPECT_GE(cmds[1].at - cmds[0].at, std::chrono::milliseconds(250));  // as above
    // The stream goes on and is stored again.
    ASSERT_TRUE(eventually([] { return TKAreceived(203) == 1; }));
}

TEST_P(StreamControl, ClearBufferSendsItsCodeAndEmptiesTheRing) {
    SimPort sp(204, GetParam(), onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 3);
    sp.model().clearRecord();
    EXPECT_EQ(TKAclearBuffer(204), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kClearBuffer, std::chrono::seconds(3)));
    EXPECT_EQ(sp.codes(), std::vector<int>{37});
    EXPECT_EQ(TKAreceived(204), 0);
    requestValues(sp, 1);
    const auto v = readAll(204);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], converted(0.25));
}

TEST_P(StreamControl, SingleValueIsNotWaitedFor) {
    SimPort sp(205, GetParam(), onRequest());
    ASSERT_EQ(sp.activate(), 0);
    // The amplifier takes the request but sends the value only when the test
    // says so: the call succeeds without it.
    sp.model().setHandler(cmd::kSingleValue, [](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> { return std::nullopt; });
    ASSERT_EQ(TKAgetValue(205), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3)));
    EXPECT_TRUE(roundTrip(205));
    EXPECT_EQ(TKAreceived(205), 0);
    sp.model().emitValue();
    ASSERT_TRUE(eventually([] { return TKAreceived(205) == 1; }));
    const auto v = readAll(205);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], converted(0.25));
}

INSTANTIATE_TEST_SUITE_P(Lines, StreamControl, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

// ---------------------------------------------------------------- the marker

TEST(Flush, SilentMarkerFailsAfterItsTimeOutWithTheRingEmptied) {
    SimPort sp(210, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 4);
    sim::Faults f;
    f.silence(cmd::kGetOffset);
    sp.model().setFaults(f);
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAflushBuffer(210), -1);
    const std::uint32_t took = since(t0);
    EXPECT_GE(took, 1090u);  // 1000 ms for the answer plus 100 ms
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(TKAreceived(210), 0);

    // Values are stored again, and an answering amplifier flushes again.
    sp.model().setFaults({});
    requestValues(sp, 1);
    EXPECT_EQ(TKAflushBuffer(210), 1);
    EXPECT_EQ(TKAflushBuffer(210), 0);
}

TEST(Flush, LateMarkerAnswerIsDroppedAndDoesNotDisturbLaterFrames) {
    SimPort sp(211, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    sim::Faults f;
    f.delay(cmd::kGetOffset, 1500);
    sp.model().setFaults(f);
    EXPECT_EQ(TKAflushBuffer(211), -1);
    platform::sleepMs(800);  // the answer has come meanwhile
    sp.model().setFaults({});
    requestValues(sp, 2);
    const auto v = readAll(211);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], converted(0.25));
    EXPECT_EQ(v[1], converted(0.25));
    EXPECT_EQ(TKAflushBuffer(211), 0);
}

TEST(Flush, ValuesArrivingWhileTheMarkerIsOutstandingAreNotDelivered) {
    SimPort sp(212, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    // Between receiving the marker and answering it, the amplifier sends
    // three more values.
    sp.model().setHandler(cmd::kGetOffset, [&sp](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> {
        for (int i = 0; i < 3; ++i) sp.model().emitValue();
        return 0x8000;
    });
    requestValues(sp, 2);
    EXPECT_EQ(TKAflushBuffer(212), 1);
    EXPECT_TRUE(roundTrip(212));
    EXPECT_EQ(TKAreceived(212), 0);
    EXPECT_EQ(sp.model().framesSent(), 5u);
    EXPECT_EQ(TKAflushBuffer(212), 0);  // the held ones did not count as waiting
    EXPECT_TRUE(roundTrip(212));
    EXPECT_EQ(TKAreceived(212), 0);
}

TEST(Flush, FailedDrainKeepsTheStreamStopped) {
    SimPort sp(213, LineKind::Virtual, streaming(50));
    ASSERT_EQ(sp.activate(), 0);
    ASSERT_EQ(TKAstopTransmit(213), 0);
    sim::Faults f;
    f.silence(cmd::kGetOffset);
    sp.model().setFaults(f);
    sp.model().clearRecord();
    EXPECT_EQ(TKAstartTransmit(213), -1);
    ASSERT_TRUE(roundTrip(213));
    EXPECT_EQ(sp.codes(), (std::vector<int>{4, 43}));  // no 36 after a failed drain
    EXPECT_FALSE(sp.model().transmitting());
    sp.model().setFaults({});
    EXPECT_EQ(TKAstartTransmit(213), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kStartTransmit, std::chrono::seconds(3)));
    EXPECT_TRUE(sp.model().transmitting());
}

// Every stream function hands the ring back to the receive thread: a value
// asked for afterwards is delivered.
TEST(StreamControlHold, EveryFunctionLetsValuesInAgain) {
    SimPort sp(214, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    const std::pair<const char*, std::function<int()>> calls[] = {
        {"TKAflushBuffer", [] { return TKAflushBuffer(214) >= 0 ? 0 : -1; }},
        {"TKAstopTransmit", [] { return TKAstopTransmit(214); }},
        {"TKAstartTransmit", [] { return TKAstartTransmit(214); }},
        {"TKAclearMaxValue", [] { return TKAclearMaxValue(214); }},
        {"TKAclearBuffer", [] { return TKAclearBuffer(214); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        requestValues(sp, 1);  // something to throw away
        ASSERT_EQ(call(), 0);
        EXPECT_EQ(TKAreceived(214), 0);
        requestValues(sp, 2);
        const auto v = readAll(214);
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(v[1], converted(0.25));
    }
}

// When the command cannot be written, nothing else is done: no pause, no
// drain, no purge. Only the flush empties the ring, as for an unanswered marker.
TEST(StreamControlWrites, FailedWriteStopsTheFunction) {
    SimPort sp(216, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 1);
    auto f = sp.link()->faults();
    f.writeError = EIO;
    sp.link()->setFaults(f);
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAclearBuffer(216), -1);
    EXPECT_EQ(TKAstopTransmit(216), -1);
    EXPECT_EQ(TKAclearMaxValue(216), -1);
    EXPECT_EQ(TKAgetValue(216), -1);
    EXPECT_LT(since(t0), 900u);
    EXPECT_EQ(TKAreceived(216), 1);  // the value from before is still there...
    sp.model().emitValue();          // ...and new ones are stored behind it
    double values[4];
    std::int32_t n = 0;
    std::int32_t total = 0;
    ASSERT_TRUE(eventually([&] {
        if (TKAreadMultiple(216, values, 4, &n) == 1) total += n;
        return total >= 2;
    }));
    EXPECT_EQ(total, 2);
    sp.model().emitValue();
    ASSERT_TRUE(eventually([] { return TKAreceived(216) == 1; }));
    EXPECT_EQ(TKAflushBuffer(216), -1);
    EXPECT_EQ(TKAreceived(216), 0);
    EXPECT_EQ(sp.model().totalCommands(), 8u);  // activation, 59 and the round trip; nothing since
    sp.link()->setFaults({});
    requestValues(sp, 1);
    EXPECT_EQ(readAll(216).size(), 1u);
}

// A frame cut in half by a clear is lost; the next frame is read afresh.
TEST(ClearBuffer, HalfReceivedFrameIsLost) {
    SimPort sp(215, LineKind::Virtual, onRequest());
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 1);
    sp.link()->peerWrite({0x2C, 0x01, 0x80});
    // The receive thread takes the bytes and waits for the rest of the frame
    // (or, had it asked for all five at once, they still wait in the line).
    eventually([&sp] { return sp.link()->inputPending() == 0; }, 500);
    platform::sleepMs(20);
    EXPECT_EQ(TKAclearBuffer(215), 0);
    EXPECT_TRUE(sp.model().waitForCommand(cmd::kClearBuffer, std::chrono::seconds(3)));
    EXPECT_EQ(TKAreceived(215), 0);

    sp.link()->peerWrite({0x2C, 0x07, 0x80, 0x00, 0x01});
    ASSERT_TRUE(roundTrip(215));
    double values[4];
    unsigned char statuses[4];
    std::int32_t n = 0;
    ASSERT_EQ(TKAreadStatusMultiple(215, values, statuses, 4, &n), 1);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(values[0], 1.2516975402832032e-7);  // 0x800001, bipolar
    EXPECT_EQ(statuses[0], 7);
}

// ---------------------------------------------------------------- several ports

TEST(GetValues, AsksEveryPortListed) {
    SimPort a(220, LineKind::Virtual, onRequest());
    SimPort b(221, LineKind::Virtual, onRequest());
    SimPort c(222, LineKind::Virtual, onRequest());
    ASSERT_EQ(a.activate(), 0);
    ASSERT_EQ(b.activate(), 0);
    ASSERT_EQ(c.activate(), 0);
    const std::int32_t ports[] = {220, 221, 222};
    ASSERT_EQ(TKAgetValues(ports, 3), 0);
    for (SimPort* sp : {&a, &b, &c}) {
        ASSERT_TRUE(sp->model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3)));
        ASSERT_TRUE(roundTrip(sp->port()));
        const auto v = readAll(sp->port());
        ASSERT_EQ(v.size(), 1u) << sp->port();
        EXPECT_EQ(v[0], converted(0.25));
    }

    // An inactive port among them: the others are asked all the same.
    const std::int32_t withGap[] = {220, 223, 222};
    EXPECT_EQ(TKAgetValues(withGap, 3), -1);
    EXPECT_TRUE(a.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3), 2));
    EXPECT_TRUE(c.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3), 2));
    EXPECT_EQ(b.model().commandCount(cmd::kSingleValue), 1u);

    EXPECT_EQ(TKAgetValues(ports, 0), -1);
    EXPECT_EQ(TKAgetValues(ports, -1), -1);
    EXPECT_EQ(TKAgetValues(nullptr, 3), -1);
    std::vector<std::int32_t> many(1025, 220);
    EXPECT_EQ(TKAgetValues(many.data(), 1025), -1);
    EXPECT_TRUE(roundTrip(220));
    EXPECT_EQ(a.model().commandCount(cmd::kSingleValue), 2u);
}

TEST(StreamControlPorts, InactivePortsFailAtOnce) {
    SimPort sp(230, LineKind::Virtual, onRequest());
    // None of them may wait for an answer or a pause: together they stay far
    // below one marker time-out.
    std::uint32_t t0 = platform::tickCount();
    for (const unsigned port : {230u, 231u, 1024u, 0x80000000u}) {
        EXPECT_EQ(TKAflushBuffer(port), -1) << port;
        EXPECT_EQ(TKAclearBuffer(port), -1) << port;
        EXPECT_EQ(TKAstopTransmit(port), -1) << port;
        EXPECT_EQ(TKAstartTransmit(port), -1) << port;
        EXPECT_EQ(TKAclearMaxValue(port), -1) << port;
        EXPECT_EQ(TKAgetValue(port), -1) << port;
    }
    EXPECT_LT(since(t0), 900u);
    ASSERT_EQ(sp.activate(), 0);
    TKArelease(230);
    sp.model().clearRecord();
    t0 = platform::tickCount();
    EXPECT_EQ(TKAflushBuffer(230), -1);
    EXPECT_EQ(TKAstopTransmit(230), -1);
    EXPECT_EQ(TKAclearBuffer(230), -1);
    EXPECT_EQ(TKAgetValue(230), -1);
    EXPECT_LT(since(t0), 900u);
    EXPECT_TRUE(sp.codes().empty());
}

}  // namespace
}  // namespace nxtka
