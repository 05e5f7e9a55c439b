// Raw bytes to one or several ports, writes completed later, and the service
// hook that runs application code under the port's lock.
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using test::eventually;
using test::LineKind;
using test::SimPort;

constexpr unsigned char kClearMax[] = {60};  // a command without answer or visible effect

bool readable(NXTKA_EVENT fd, int ms = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

void setHold(SimPort& sp, bool hold, std::uint32_t shortWrite = 0) {
    auto f = sp.link()->faults();
    f.holdWrites = hold;
    f.shortWrite = shortWrite;
    sp.link()->setFaults(f);
}

sim::Config quiet() {
    sim::Config c;
    c.stream.rate = 0;
    c.reportUndefinedToStderr = false;
    return c;
}

class RawBytes : public ::testing::TestWithParam<LineKind> {};

TEST_P(RawBytes, SendBytesPutsThemOnTheWireUnchanged) {
    SimPort sp(301, GetParam(), quiet());
    ASSERT_EQ(sp.activate(), 0);
    sp.model().clearRecord();
    const unsigned char bytes[] = {7, 0x12, 0x34, 0x56, 60};
    ASSERT_EQ(NXsendBytes(301, bytes, sizeof bytes), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    const auto cmds = sp.model().commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].code, 7);
    EXPECT_EQ(cmds[0].params, (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
    EXPECT_EQ(cmds[1].code, 60);
    EXPECT_EQ(sp.model().reg(cmd::kGetControl), 0x123456u);
    if (sp.link() != nullptr) {
        const auto w = sp.link()->written();
        ASSERT_GE(w.size(), sizeof bytes);
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, w.end() - static_cast<std::ptrdiff_t>(sizeof bytes)));
    }

    // Bad arguments write nothing.
    EXPECT_EQ(NXsendBytes(301, bytes, 0), -1);
    EXPECT_EQ(NXsendBytes(301, bytes, -5), -1);
    EXPECT_EQ(NXsendBytes(301, nullptr, 3), -1);
    EXPECT_EQ(NXsendBytes(1024, bytes, 1), -1);
    EXPECT_EQ(NXsendBytes(302, bytes, 1), -1);  // not active
    ASSERT_EQ(NXsendBytes(301, kClearMax, 1), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3), 2));
    EXPECT_EQ(sp.model().totalCommands(), 3u);
}

TEST_P(RawBytes, WriteThatCompletesAtOnceNeedsNoSynchronising) {
    SimPort sp(304, GetParam(), quiet());
    ASSERT_EQ(sp.activate(), 0);
    const int flushesBefore = sp.link() != nullptr ? sp.link()->record().flushes : 0;
    NXTKA_EVENT ev = -5;
    ASSERT_EQ(NXasynchronousSendBytes(304, kClearMax, 1, &ev), 0);
    EXPECT_EQ(ev, NXTKA_EVENT{});
    if (sp.link() != nullptr) {
        EXPECT_EQ(sp.link()->record().flushes, flushesBefore);  // no flush
    }
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    EXPECT_EQ(NXsynchronizeSendBytes(304), -1);  // nothing outstanding
    EXPECT_EQ(NXasynchronousSendBytes(304, kClearMax, 1, nullptr), 0);
    EXPECT_EQ(TKAmodel(304), 3);  // the port is free

    // Bad arguments and an inactive port (305): -1, and a null event.
    struct Failing {
        std::uint32_t port;
        const unsigned char* bytes;
        std::int32_t count;
    };
    for (const Failing& f : {Failing{304, kClearMax, 0}, Failing{304, kClearMax, -1}, Failing{304, nullptr, 1},
                             Failing{1024, kClearMax, 1}, Failing{305, kClearMax, 1}}) {
        ev = -5;
        EXPECT_EQ(NXasynchronousSendBytes(f.port, f.bytes, f.count, &ev), -1);
        EXPECT_EQ(ev, NXTKA_EVENT{}) << "port " << f.port << ", count " << f.count;
    }
    EXPECT_EQ(NXsynchronizeSendBytes(305), -1);
    EXPECT_EQ(NXsynchronizeSendBytes(1024), -1);
    EXPECT_EQ(TKAmodel(304), 3);
}

INSTANTIATE_TEST_SUITE_P(Lines, RawBytes, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

// ---------------------------------------------------------------- writes that stay pending

TEST(PendingWrite, LocksThePortUntilSynchronised) {
    SimPort sp(310, LineKind::Virtual, quiet());
    ASSERT_EQ(sp.activate(), 0);
    setHold(sp, true);

    NXTKA_EVENT ev = -5;
    ASSERT_EQ(NXasynchronousSendBytes(310, kClearMax, 1, &ev), 1);
    ASSERT_GT(ev, 0);
    EXPECT_FALSE(readable(ev));

    // The starting thread is refused by every guarded function...
    EXPECT_EQ(TKAmodel(310), -1);
    EXPECT_EQ(TKAgetLocalBaudRate(310), -1);
    EXPECT_EQ(NXsendBytes(310, kClearMax, 1), -1);
    EXPECT_EQ(TKAgetValue(310), -1);
    EXPECT_EQ(TKAflushBuffer(310), -1);
    EXPECT_EQ(NXinternalStatus(310), -1);
    EXPECT_EQ(TKAinitialize(310), -1);
    NXTKA_EVENT second = -5;
    EXPECT_EQ(NXasynchronousSendBytes(310, kClearMax, 1, &second), -1);
    EXPECT_EQ(second, NXTKA_EVENT{});  // a null event on failure
    // ...but values can still be read.
    EXPECT_EQ(TKAreceived(310), 0);

    // Another thread waits for the port.
    std::atomic<bool> done{false};
    std::int32_t otherResult = -2;
    std::thread other([&] {
        otherResult = TKAmodel(310);
        done = true;
    });
    platform::sleepMs(200);
    EXPECT_FALSE(done.load());

    sp.link()->completePendingWrite();
    EXPECT_TRUE(readable(ev, 3000));
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    platform::sleepMs(100);
    EXPECT_FALSE(done.load());  // written, but not yet synchronised

    EXPECT_EQ(NXsynchronizeSendBytes(310), 0);
    other.join();
    EXPECT_EQ(otherResult, 3);
    EXPECT_EQ(TKAmodel(310), 3);
    EXPECT_EQ(NXsynchronizeSendBytes(310), -1);
    setHold(sp, false);
    EXPECT_EQ(NXsendBytes(310, kClearMax, 1), 0);
    EXPECT_EQ(TKAflushBuffer(310), 0);
}

TEST(PendingWrite, IncompleteWriteOrFailedFlushFailsTheSynchronisation) {
    SimPort sp(311, LineKind::Virtual, quiet());
    ASSERT_EQ(sp.activate(), 0);
    const unsigned char three[] = {60, 60, 60};

    // Only one of three bytes is taken.
    setHold(sp, true, 1);
    NXTKA_EVENT ev = 0;
    ASSERT_EQ(NXasynchronousSendBytes(311, three, 3, &ev), 1);
    sp.link()->completePendingWrite();
    EXPECT_EQ(NXsynchronizeSendBytes(311), -1);
    EXPECT_EQ(TKAmodel(311), 3);  // the port is free again

    // A short write that completes at once fails at once.
    setHold(sp, false, 1);
    ev = -5;
    EXPECT_EQ(NXasynchronousSendBytes(311, three, 3, &ev), -1);
    EXPECT_EQ(ev, NXTKA_EVENT{});
    EXPECT_EQ(NXsendBytes(311, three, 3), -1);
    setHold(sp, false);

    // A flush that fails for a real reason fails the synchronisation; one the
    // device cannot do is tolerated and remembered.
    auto f = sp.link()->faults();
    f.holdWrites = true;
    f.flushError = EIO;
    sp.link()->setFaults(f);
    ASSERT_EQ(NXasynchronousSendBytes(311, kClearMax, 1, &ev), 1);
    sp.link()->completePendingWrite();
    EXPECT_EQ(NXsynchronizeSendBytes(311), -1);

    EXPECT_EQ(NXinternalStatus(311), 0);  // cleared by the failed flush above
    f.flushError = platform::errorCodes().invalidFunction;
    sp.link()->setFaults(f);
    ASSERT_EQ(NXasynchronousSendBytes(311, kClearMax, 1, &ev), 1);
    sp.link()->completePendingWrite();
    EXPECT_EQ(NXsynchronizeSendBytes(311), 0);
    EXPECT_EQ(NXinternalStatus(311), 0);

    // A write that cannot start releases the port at once.
    f = {};
    f.writeError = EIO;
    sp.link()->setFaults(f);
    ev = -5;
    EXPECT_EQ(NXasynchronousSendBytes(311, kClearMax, 1, &ev), -1);
    EXPECT_EQ(ev, NXTKA_EVENT{});
    EXPECT_EQ(TKAmodel(311), 3);
    sp.link()->setFaults({});
}

// ---------------------------------------------------------------- several ports

TEST(SendToDevices, BadArgumentsWriteNothing) {
    SimPort sp(320, LineKind::Virtual, quiet());
    ASSERT_EQ(sp.activate(), 0);
    const std::size_t before = sp.link()->written().size();
    std::vector<std::uint32_t> ports(1025, 320);
    EXPECT_EQ(NXsendBytesToDevices(ports.data(), 1025, kClearMax, 1), -1);
    EXPECT_EQ(NXsendBytesToDevices(ports.data(), 0, kClearMax, 1), -1);
    EXPECT_EQ(NXsendBytesToDevices(nullptr, 1, kClearMax, 1), -1);
    EXPECT_EQ(NXsendBytesToDevices(ports.data(), 1, nullptr, 1), -1);
    EXPECT_EQ(NXsendBytesToDevices(ports.data(), 1, kClearMax, 0), -1);
    EXPECT_EQ(sp.link()->written().size(), before);
    EXPECT_EQ(NXsendBytesToDevices(ports.data(), 1024, kClearMax, 1), 0);  // 1024 is allowed
    EXPECT_EQ(sp.link()->written().size(), before + 1024);
}

TEST(SendToDevices, InactivePortFailsTheCallButNotTheOthers) {
    SimPort a(321, LineKind::Virtual, quiet());
    SimPort b(323, LineKind::Virtual, quiet());
    ASSERT_EQ(a.activate(), 0);
    ASSERT_EQ(b.activate(), 0);
    const std::uint32_t ports[] = {321, 322, 323, 1024};
    EXPECT_EQ(NXsendBytesToDevices(ports, 4, kClearMax, 1), -1);
    EXPECT_TRUE(a.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    EXPECT_TRUE(b.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    const std::uint32_t good[] = {323, 321};
    EXPECT_EQ(NXsendBytesToDevices(good, 2, kClearMax, 1), 0);
    EXPECT_TRUE(a.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3), 2));
    EXPECT_TRUE(b.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3), 2));
}

TEST(SendToDevices, WaitsForEveryPendingWrite) {
    SimPort a(324, LineKind::Virtual, quiet());
    SimPort b(325, LineKind::Virtual, quiet());
    SimPort c(326, LineKind::Virtual, quiet());
    ASSERT_EQ(a.activate(), 0);
    ASSERT_EQ(b.activate(), 0);
    ASSERT_EQ(c.activate(), 0);
    setHold(a, true);
    setHold(c, true);

    std::atomic<bool> done{false};
    std::int32_t result = -2;
    std::thread caller([&] {
        // Port 324 twice: its second entry finds the first write outstanding.
        const std::uint32_t ports[] = {324, 325, 326, 324};
        result = NXsendBytesToDevices(ports, 4, kClearMax, 1);
        done = true;
    });
    // The port that completes at once gets its byte while the others wait.
    ASSERT_TRUE(b.model().waitForCommand(cmd::kClearMaxValue, std::chrono::seconds(3)));
    // A held write can be let go only once it has started.
    ASSERT_TRUE(eventually([&] {
        a.link()->completePendingWrite();
        return a.model().commandCount(cmd::kClearMaxValue) == 1;
    }));
    platform::sleepMs(100);
    EXPECT_FALSE(done.load());
    ASSERT_TRUE(eventually([&] {
        c.link()->completePendingWrite();
        return c.model().commandCount(cmd::kClearMaxValue) == 1;
    }));
    caller.join();
    EXPECT_EQ(result, -1);  // the duplicate
    EXPECT_EQ(a.model().commandCount(cmd::kClearMaxValue), 1u);
    EXPECT_EQ(b.model().commandCount(cmd::kClearMaxValue), 1u);
    // Every port was handed back by the caller's thread.
    setHold(a, false);
    setHold(c, false);
    EXPECT_EQ(TKAmodel(324), 3);
    EXPECT_EQ(TKAmodel(325), 3);
    EXPECT_EQ(TKAmodel(326), 3);
    EXPECT_EQ(NXsendBytes(324, kClearMax, 1), 0);
}

// ---------------------------------------------------------------- service hook

std::atomic<int> g_calls{0};

int32_t NXTKA_CALL countingCallback(uint32_t port, int32_t argument) {
    ++g_calls;
    return static_cast<int32_t>(port) * 1000 + argument;
}

int32_t NXTKA_CALL callsBack(uint32_t port, int32_t argument) {
    ++g_calls;
    // The port's lock is held; exports on the same port take it again.
    if (TKAmodel(port) != 3) return -100;
    const unsigned char b[] = {60};
    if (NXsendBytes(port, b, 1) != 0) return -101;
    if (TKAflushBuffer(port) != 0) return -102;
    if (TKAgetValue(port) != 0) return -103;
    return argument;
}

TEST(ReservedExec, RunsTheCallbackUnderThePortsLock) {
    SimPort sp(330, LineKind::Virtual, quiet());
    ASSERT_EQ(sp.activate(), 0);
    g_calls = 0;
    EXPECT_EQ(NXreservedExec(330, 1, countingCallback, 5), -1);
    EXPECT_EQ(NXreservedExec(330, -1, countingCallback, 5), -1);
    EXPECT_EQ(NXreservedExec(330, 0, nullptr, 5), -1);
    EXPECT_EQ(NXreservedExec(1024, 0, countingCallback, 5), -1);
    EXPECT_EQ(NXreservedExec(331, 0, countingCallback, 5), -1);
    EXPECT_EQ(g_calls.load(), 0);

    EXPECT_EQ(NXreservedExec(330, 0, countingCallback, 7), 330007);
    EXPECT_EQ(NXreservedExec(330, 0, countingCallback, -330001), -1);  // the callback's own -1
    EXPECT_EQ(NXreservedExec(330, 0, countingCallback, -331000), -1000);
    EXPECT_EQ(g_calls.load(), 3);

    EXPECT_EQ(NXreservedExec(330, 0, callsBack, 42), 42);
    EXPECT_EQ(g_calls.load(), 4);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3)));
    EXPECT_EQ(sp.model().commandCount(cmd::kClearMaxValue), 1u);
    ASSERT_TRUE(eventually([] { return TKAreceived(330) == 1; }));

    // Another thread waits while the callback runs.
    std::atomic<bool> done{false};
    std::thread other;
    struct Ctx {
        std::atomic<bool>* done;
        std::thread* other;
    };
    static Ctx* ctx = nullptr;
    Ctx c{&done, &other};
    ctx = &c;
    EXPECT_EQ(NXreservedExec(
                  330, 0,
                  [](uint32_t port, int32_t) -> int32_t {
                      *ctx->other = std::thread([port] {
                          TKAmodel(port);
                          *ctx->done = true;
                      });
                      platform::sleepMs(200);
                      return ctx->done->load() ? 1 : 0;
                  },
                  0),
              0);
    other.join();
    EXPECT_TRUE(done.load());
}

}  // namespace
}  // namespace nxtka
