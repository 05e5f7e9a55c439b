// The in-process front end: the test opens the registered VirtualLink by
// name and uses its library side as the host.
#include "virtual_amplifier.h"

#include "core/command_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace nxtka::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::ReadResult;
using platform::SerialDevice;
using platform::VirtualLink;
using platform::WriteStart;

Config quiet() {
    Config c;
    c.stream.rate = 0;
    return c;
}

VirtualOptions named(const char* name, std::uint32_t baud = 38400) {
    VirtualOptions o;
    o.name = name;
    o.baud = baud;
    return o;
}

bool send(SerialDevice& dev, const Bytes& b) {
    const WriteStart w = dev.startWrite(b.data(), static_cast<std::uint32_t>(b.size()));
    return w.status == WriteStart::Completed && w.count == b.size();
}

// Reads exactly n bytes once they are there; empty after 3 s without them
// (the device's read itself has no time-out).
Bytes readExactly(SerialDevice& dev, VirtualLink& link, std::size_t n) {
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (link.inputPending() < n && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (link.inputPending() < n) return {};
    Bytes b(n);
    const ReadResult r = dev.read(b.data(), static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n));
    if (r.status != ReadResult::Ok || r.count != n) return {};
    return b;
}

TEST(VirtualAmplifier, AnswersThroughTheLinkOpenedByName) {
    VirtualAmplifier amp(quiet(), named("virtual:sim-test-id"));
    EXPECT_EQ(amp.name(), "virtual:sim-test-id");
    auto dev = VirtualLink::open("virtual:sim-test-id");
    ASSERT_TRUE(dev);
    ASSERT_TRUE(send(*dev, {42, 3}));
    EXPECT_EQ(readExactly(*dev, *amp.link(), 5), (Bytes{'$', 0x00, 0x00, 0x28, 3}));
    ASSERT_TRUE(send(*dev, {30, 1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(send(*dev, {31}));
    EXPECT_EQ(readExactly(*dev, *amp.link(), 9), (Bytes{';', 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(amp.model().waitForCommand(cmd::kGetSerialNo, std::chrono::seconds(1)));
    EXPECT_EQ(amp.link()->written(), (Bytes{42, 3, 30, 1, 2, 3, 4, 5, 6, 7, 8, 31}));
}

TEST(VirtualAmplifier, StreamsFramesAndStopsOn35) {
    Config cfg;
    cfg.stream.rate = 1000;
    cfg.stream.kind = FrameKind::Status16;
    cfg.stream.status = 3;
    VirtualAmplifier amp(cfg, named("virtual:sim-test-stream"));
    auto dev = VirtualLink::open("virtual:sim-test-stream");
    ASSERT_TRUE(dev);
    const Bytes got = readExactly(*dev, *amp.link(), 40);
    ASSERT_EQ(got.size(), 40u);
    for (std::size_t i = 0; i < got.size(); i += 4) {
        EXPECT_EQ(got[i], '&');
        EXPECT_EQ(got[i + 1], 0xA3);
    }
    ASSERT_TRUE(send(*dev, {35}));
    ASSERT_TRUE(amp.model().waitForCommand(cmd::kStopTransmit, std::chrono::seconds(2)));
    EXPECT_FALSE(amp.model().transmitting());
}

TEST(VirtualAmplifier, HangUpFailsTheHostsRead) {
    Config cfg;
    cfg.stream.rate = 500;
    cfg.stream.transmitting = false;
    VirtualAmplifier amp(cfg, named("virtual:sim-test-hangup"));
    Faults f;
    f.hangUpAfterFrames = 2;
    amp.model().setFaults(f);
    auto dev = VirtualLink::open("virtual:sim-test-hangup");
    ASSERT_TRUE(dev);
    ASSERT_TRUE(send(*dev, {36}));
    // The read has no time-out of its own: end it if no hang-up comes.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (!done && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!done) dev->purge(platform::kPurgeRxAbort);
    });
    std::uint8_t buf[64];
    std::size_t got = 0;
    ReadResult r{};
    do {
        r = dev->read(buf, 1, sizeof buf);
        if (r.status == ReadResult::Ok) got += r.count;
    } while (r.status == ReadResult::Ok);
    done = true;
    watchdog.join();
    EXPECT_EQ(r.status, ReadResult::Failed);
    // A hang-up may overtake bytes still on their way, as on a real line:
    // at most the two frames, and only whole ones.
    EXPECT_LE(got, 10u);
    EXPECT_EQ(got % 5, 0u);
    EXPECT_TRUE(amp.model().hungUp());
    EXPECT_FALSE(send(*dev, {43}));
}

TEST(VirtualAmplifier, ReachesTheLinksFaultsAndUnregistersAtStop) {
    VirtualAmplifier amp(quiet(), named("virtual:sim-test-faults"));
    auto dev = VirtualLink::open("virtual:sim-test-faults");
    ASSERT_TRUE(dev);
    VirtualLink::Faults lf = amp.linkFaults();
    lf.writeError = 5;
    lf.cts = false;
    amp.setLinkFaults(lf);
    EXPECT_EQ(amp.linkFaults().writeError, 5u);
    EXPECT_FALSE(send(*dev, {43}));
    std::uint32_t bits = 0xFF;
    ASSERT_TRUE(dev->modemStatus(bits));
    EXPECT_EQ(bits & platform::kModemCts, 0u);

    amp.stop();
    EXPECT_FALSE(VirtualLink::open("virtual:sim-test-faults")) << "the name no longer opens the link";
}

}  // namespace
}  // namespace nxtka::sim
