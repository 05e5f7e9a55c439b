// 256 ports active at once, each on its own simulated amplifier behind a
// pseudo-terminal: values and answers on all of them, and every descriptor
// and thread given back after release. Labelled `long`: run by
// `scripts/test long`.
#include "support/proc_counts.h"
#include "support/sim_port.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using test::countEntries;
using test::eventually;
using test::LineKind;
using test::SimPort;

constexpr unsigned kPorts = 256;
constexpr unsigned kFirstPort = 512;
constexpr unsigned kActivators = 8;

// Each port holds a few descriptors on both sides of its line: allow as many
// as the system lets this process have.
void raiseDescriptorLimit() {
    rlimit r{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &r), 0);
    r.rlim_cur = r.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &r), 0);
    ASSERT_GE(r.rlim_cur, 8u * kPorts) << "the descriptor limit is too low for this test";
}

TEST(Scale, ManyPortsAtOnceThenEverythingGivenBack) {
    test::Watchdog watchdog(std::chrono::minutes(10));
    raiseDescriptorLimit();
    setSettleAfterOpenMs(0);
    const int fdsAtStart = countEntries("/proc/self/fd");
    const int threadsAtStart = test::settledThreadCount();

    // A streaming amplifier per port: 20 values/s of 0.525 on a bipolar
    // input, which reads as (0xC00000 - 0x800000) x 1.05 / 2^23 = 0.525.
    sim::Config c;
    c.stream.rate = 20;
    c.stream.level = 0.525;
    std::vector<std::unique_ptr<SimPort>> sims;
    for (unsigned i = 0; i < kPorts; ++i) sims.push_back(std::make_unique<SimPort>(kFirstPort + i, LineKind::Pty, c));
    const int fdsBefore = countEntries("/proc/self/fd");
    const int threadsBefore = countEntries("/proc/self/task");

    watchdog.step("activation of every port");
    const auto start = std::chrono::steady_clock::now();
    std::atomic<unsigned> failures{0};
    {
        std::vector<std::thread> activators;
        for (unsigned t = 0; t < kActivators; ++t) {
            activators.emplace_back([&, t] {
                for (unsigned i = t; i < kPorts; i += kActivators) {
                    if (TKAactivate(kFirstPort + i, 256) != 0) ++failures;
                }
            });
        }
        for (auto& a : activators) a.join();
    }
    ASSERT_EQ(failures.load(), 0u);
    const double activationSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // One receive thread per active port.
    EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore + static_cast<int>(kPorts));

    watchdog.step("values and answers on every port");
    for (unsigned i = 0; i < kPorts; ++i) {
        const unsigned port = kFirstPort + i;
        ASSERT_TRUE(eventually([port] { return TKAreceived(port) == 1; }, 30000)) << "no value on port " << port;
        double v = 0;
        unsigned char status = 0xFF;
        ASSERT_EQ(TKAreadStatus(port, &v, &status), 1) << "port " << port;
        EXPECT_EQ(v, 0.525) << "port " << port;
        EXPECT_EQ(status, 0) << "port " << port;
        EXPECT_EQ(TKAfirmwareVersion(port), 0x0C10) << "port " << port;
    }

    watchdog.step("release of every port");
    for (unsigned i = 0; i < kPorts; ++i) TKArelease(kFirstPort + i);
    for (unsigned i = 0; i < kPorts; ++i) EXPECT_EQ(TKAmodel(kFirstPort + i), -1);
    EXPECT_EQ(countEntries("/proc/self/fd"), fdsBefore);
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") == threadsBefore; }, 5000))
        << countEntries("/proc/self/task") << " threads, " << threadsBefore << " before";

    watchdog.step("the simulators' end");
    sims.clear();
    EXPECT_EQ(countEntries("/proc/self/fd"), fdsAtStart);
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") == threadsAtStart; }, 5000));
    setSettleAfterOpenMs(250);
    std::printf("%u ports activated in %.2f s\n", kPorts, activationSeconds);
}

}  // namespace
}  // namespace nxtka
