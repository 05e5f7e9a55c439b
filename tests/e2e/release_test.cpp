// Release in the situations that used to go wrong: values streaming, an
// asynchronous write outstanding, and a waiter on the data event when the
// line fails.
#include "support/sim_port.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace nxtka {
namespace {

using test::LineKind;
using test::onOtherThread;
using test::SimPort;
using test::Watchdog;

// 38400 bit/s with ten bit times per byte carries 3840 bytes/s: 768 frames of
// five bytes each. The simulator paces its output to the line, so this is the
// most values the amplifier can put on it.
constexpr double kFullRate38400 = 3840.0 / 5.0;

// ---------------------------------------------------------------- values streaming

struct StreamingCase {
    LineKind line;
    double rate;
};

void PrintTo(const StreamingCase& c, std::ostream* os) {
    *os << (c.line == LineKind::Virtual ? "virtual" : "pty") << " at " << c.rate << " values/s";
}

class ReleaseWhileStreaming : public ::testing::TestWithParam<StreamingCase> {};

// The amplifier sleeps (special mode 0x41, bit 6); activation woke it. Release
// must put the sleep bit back however fast the values come: it reads the
// special mode (137), writes it back with bit 6 set (136 00 41), then unlocks
// the user interface twice (63).
TEST_P(ReleaseWhileStreaming, RestoresTheSleepBitAndUnlocks) {
    sim::Config c;
    c.level = 3;
    c.options = 0x200;
    c.specialMode = 0x41;
    c.stream.rate = GetParam().rate;
    SimPort sp(701, GetParam().line, c);
    ASSERT_EQ(sp.activate(), 0);
    ASSERT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x01u);
    // The answer to 137 comes 20 ms late, so values always arrive before it.
    sim::Faults late;
    late.delay(cmd::kGetSpecialMode, 20);
    sp.model().setFaults(late);
    ASSERT_TRUE(test::eventually([] { return TKAreceived(701) == 1; }));  // values are coming in

    sp.model().clearRecord();
    TKArelease(701);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(5), 2));  // a pseudo-terminal delivers late
    const auto cmds = sp.model().commands();
    ASSERT_EQ(sp.codes(), (std::vector<int>{137, 136, 63, 63}));
    EXPECT_EQ(cmds[1].params, (std::vector<std::uint8_t>{0x00, 0x41}));
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x41u);
    EXPECT_FALSE(sp.model().uiLocked());
}

INSTANTIATE_TEST_SUITE_P(Rates, ReleaseWhileStreaming,
                         ::testing::Values(StreamingCase{LineKind::Virtual, 200.0},
                                           StreamingCase{LineKind::Pty, 200.0},
                                           StreamingCase{LineKind::Virtual, kFullRate38400},
                                           StreamingCase{LineKind::Pty, kFullRate38400}),
                         [](const ::testing::TestParamInfo<StreamingCase>& row) {
                             return std::string(row.param.line == LineKind::Virtual ? "Virtual" : "Pty") +
                                    (row.param.rate == 200.0 ? "At200" : "AtFullRate");
                         });

// ---------------------------------------------------------------- asynchronous write outstanding

// A thread starts a large write that the line does not take and releases the
// port without synchronising. Release ends the write, still restores the
// amplifier, and leaves no lock behind: the port and another one can be
// activated from other threads at once.
TEST(ReleaseWithWriteOutstanding, AbortsTheWriteAndLeavesThePortFree) {
    Watchdog dog(std::chrono::seconds(20));
    sim::Config c;
    c.level = 3;
    c.stream.rate = 0;
    c.reportUndefinedToStderr = false;
    SimPort sp(702, LineKind::Virtual, c);
    SimPort other(703, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    platform::VirtualLink& link = *sp.link();

    auto faults = link.faults();
    faults.holdWrites = true;  // the line takes nothing until it is let go
    link.setFaults(faults);
    const std::vector<std::uint8_t> big(200000, 0xFF);
    NXTKA_EVENT done{};
    ASSERT_EQ(NXasynchronousSendBytes(702, big.data(), static_cast<int32_t>(big.size()), &done), 1);
    EXPECT_NE(done, NXTKA_EVENT{});

    // Once the write is aborted, the line takes bytes again, so that the
    // unlock bytes of the release can go out.
    const int purgesBefore = link.record().purges;
    std::thread letGo([&] {
        test::eventually(
            [&] {
                const auto r = link.record();
                return r.purges > purgesBefore && (r.lastPurgeFlags & platform::kPurgeTxAbort) != 0;
            },
            5000);
        auto f = link.faults();
        f.holdWrites = false;
        link.setFaults(f);
    });
    sp.model().clearRecord();
    dog.step("TKArelease with a write outstanding");
    TKArelease(702);
    letGo.join();

    const auto written = link.written();
    EXPECT_EQ(std::count(written.begin(), written.end(), 0xFF), 0) << "the outstanding write went out";
    EXPECT_TRUE(sp.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(5), 2));
    EXPECT_EQ(sp.codes(), (std::vector<int>{63, 63}));
    EXPECT_EQ(TKAmodel(702), -1);

    dog.step("activations after the release");
    EXPECT_EQ(onOtherThread("activation of the released port", 5000, [&] { return sp.activate(); }), 0);
    EXPECT_EQ(onOtherThread("activation of another port", 5000, [&] { return other.activate(); }), 0);
    EXPECT_EQ(TKAmodel(702), 3);
    EXPECT_EQ(TKAmodel(703), 3);
    TKArelease(702);
    TKArelease(703);
}

// ---------------------------------------------------------------- line failure

// An application that waits for values with poll() on the data event learns
// of a hang-up: the event is signalled, and the read that follows fails and
// resets it, so a wait on this port among others does not spin.
TEST(LineFailure, WakesTheDataEventWaiter) {
    sim::Config c;
    c.level = 3;
    c.stream.rate = 0;  // nothing arrives unless asked for
    SimPort sp(704, LineKind::Pty, c);
    ASSERT_EQ(sp.activate(), 0);
    const NXTKA_EVENT ev = NXrequestEvent(704);
    ASSERT_GT(ev, 0);
    pollfd p{ev, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 0), 0) << "signalled with no values waiting";

    auto waiter = std::async(std::launch::async, [ev] {
        pollfd q{ev, POLLIN, 0};
        return poll(&q, 1, 5000);
    });
    platform::sleepMs(50);  // the waiter is blocked in poll() when the peer goes
    sp.model().hangUp();
    EXPECT_EQ(waiter.get(), 1) << "the waiter was not woken";
    double v = 7.0;
    EXPECT_EQ(TKAread(704, &v), -1);
    EXPECT_EQ(v, 7.0);
    p.revents = 0;
    EXPECT_EQ(poll(&p, 1, 0), 0) << "still signalled after the read that reported the failure";
    EXPECT_EQ(TKAread(704, &v), -1);
}

}  // namespace
}  // namespace nxtka
