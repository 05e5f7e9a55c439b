// Many application threads on several streaming ports at once: every call
// gets a valid result, nothing deadlocks, and every value read is exactly the
// conversion of what its amplifier sent.
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using sim::AmplifierModel;
using sim::FrameKind;
using test::LineKind;
using test::SimPort;

constexpr int kPorts = 4;
constexpr int kThreads = 8;
constexpr auto kRunFor = std::chrono::seconds(14);
constexpr auto kWatchdog = std::chrono::seconds(60);

// One port: its frame kind, polarity and constant level, and the one value
// and status the application may see.
struct PortPlan {
    unsigned port;
    FrameKind kind;
    bool bipolar;
    double level;
    std::uint8_t status;
    double expected;
    unsigned char expectedStatus;
};

PortPlan plan(unsigned port, FrameKind kind, bool bipolar, double level, std::uint8_t status) {
    PortPlan p{port, kind, bipolar, level, status, 0.0, 0};
    switch (kind) {
    case FrameKind::Binary24: {
        const std::uint32_t raw = AmplifierModel::rawCode24(level, bipolar);
        p.expected = bipolar ? static_cast<double>(static_cast<std::int32_t>(raw) - 8388608) * 1.2516975402832032e-7
                             : static_cast<double>(raw) * 6.258487701416016e-8;
        p.expectedStatus = status;
        break;
    }
    case FrameKind::Status16:
    case FrameKind::Binary16: {
        const std::uint16_t raw = AmplifierModel::rawCode16(level, bipolar);
        p.expected = bipolar ? static_cast<double>(static_cast<std::int32_t>(raw) - 32768) * 3.204345703125e-5
                             : static_cast<double>(raw) * 1.6021728515625e-5;
        p.expectedStatus = kind == FrameKind::Status16 ? static_cast<unsigned char>(status & 0x1F) : 0;
        break;
    }
    case FrameKind::Text:
        // Level 0.75 with the default norm (factor 1.0) travels as "0.7500".
        p.expected = static_cast<double>(0.75f);
        p.expectedStatus = 0;
        break;
    }
    return p;
}

struct Tally {
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> values{0};
    std::atomic<std::uint64_t> flushes{0};
    std::array<std::atomic<std::uint64_t>, kPorts> perPort{};
};

struct Failure {
    std::mutex mu;
    std::vector<std::string> messages;
    void add(const std::string& m) {
        std::lock_guard<std::mutex> lk(mu);
        if (messages.size() < 20) messages.push_back(m);
    }
};

void checkValue(const PortPlan& p, double v, unsigned char st, Failure& fail) {
    if (v != p.expected || st != p.expectedStatus) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "port %u: read %.17g status %u, expected %.17g status %u", p.port, v, st,
                      p.expected, p.expectedStatus);
        fail.add(buf);
    }
}

void worker(unsigned seed, const std::vector<PortPlan>& plans, std::atomic<bool>& stop, Tally& tally, Failure& fail) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pickPort(0, kPorts - 1);
    std::uniform_int_distribution<int> pickOp(0, 99);
    auto bad = [&](const char* what, unsigned port, int r) {
        fail.add(std::string(what) + " on port " + std::to_string(port) + " returned " + std::to_string(r));
    };
    while (!stop.load(std::memory_order_relaxed)) {
        const int pi = pickPort(rng);
        const PortPlan& p = plans[static_cast<std::size_t>(pi)];
        const unsigned port = p.port;
        const int op = pickOp(rng);
        tally.calls++;
        if (op < 10) {
            const int r = TKAmodel(port);
            if (r != 3) bad("TKAmodel", port, r);
        } else if (op < 18) {
            const int r = TKAgetLocalBaudRate(port);
            if (r != 38400) bad("TKAgetLocalBaudRate", port, r);
        } else if (op < 26) {
            const int r = TKAreceived(port);
            if (r != 0 && r != 1) bad("TKAreceived", port, r);
        } else if (op < 32) {
            const int r = NXinternalStatus(port);
            if (r != 1) bad("NXinternalStatus", port, r);
        } else if (op < 50) {
            double v = 0;
            unsigned char st = 0;
            const int r = TKAreadStatus(port, &v, &st);
            if (r == 1) {
                checkValue(p, v, st, fail);
                tally.values++;
                tally.perPort[static_cast<std::size_t>(pi)]++;
            } else if (r != 0) {
                bad("TKAreadStatus", port, r);
            }
        } else if (op < 66) {
            double values[16];
            unsigned char statuses[16];
            std::int32_t n = -1;
            const int r = TKAreadStatusMultiple(port, values, statuses, 16, &n);
            if (r == 1) {
                if (n < 1 || n > 16) bad("TKAreadStatusMultiple count", port, n);
                for (int i = 0; i < n && i < 16; ++i) checkValue(p, values[i], statuses[i], fail);
                tally.values += static_cast<std::uint64_t>(n);
                tally.perPort[static_cast<std::size_t>(pi)] += static_cast<std::uint64_t>(n);
            } else if (r != 0 || n != 0) {
                bad("TKAreadStatusMultiple", port, r);
            }
        } else if (op < 74) {
            const int r = TKAflushBuffer(port);
            if (r != 0 && r != 1) bad("TKAflushBuffer", port, r);
            tally.flushes++;
        } else if (op < 87) {
            const int r = TKAgetValue(port);
            if (r != 0) bad("TKAgetValue", port, r);
        } else {
            const unsigned char bytes[] = {59, 60};
            const int r = NXsendBytes(port, bytes, 2);
            if (r != 0) bad("NXsendBytes", port, r);
        }
    }
}

TEST(Stress, ManyThreadsOnStreamingPorts) {
    const std::vector<PortPlan> plans = {
        plan(501, FrameKind::Binary24, true, -0.3125, 0x9C),
        plan(502, FrameKind::Status16, false, 0.8, 0x15),
        plan(503, FrameKind::Binary16, true, 0.6, 0),
        plan(504, FrameKind::Text, true, 0.75, 0),
    };
    std::vector<std::unique_ptr<SimPort>> ports;
    for (const PortPlan& p : plans) {
        sim::Config c;
        c.control = p.bipolar ? 0x000028 : 0x001028;
        c.stream.kind = p.kind;
        c.stream.level = p.level;
        c.stream.status = p.status;
        c.stream.rate = 100;
        ports.push_back(std::make_unique<SimPort>(p.port, LineKind::Virtual, c));
        ASSERT_EQ(ports.back()->activate(), 0) << p.port;
    }

    std::atomic<bool> stop{false};
    Tally tally;
    Failure fail;
    std::mutex doneMu;
    std::condition_variable doneCv;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lk(doneMu);
        if (!doneCv.wait_for(lk, kWatchdog, [&] { return finished; })) {
            std::fprintf(stderr, "stress test: no progress after %lld s, threads are stuck\n",
                         static_cast<long long>(kWatchdog.count()));
            std::fflush(nullptr);
            std::_Exit(3);
        }
    });

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(worker, 1234u + static_cast<unsigned>(t), std::cref(plans), std::ref(stop), std::ref(tally),
                             std::ref(fail));
    std::this_thread::sleep_for(kRunFor);
    stop = true;
    for (std::thread& t : threads) t.join();
    {
        std::lock_guard<std::mutex> lk(doneMu);
        finished = true;
    }
    doneCv.notify_all();
    watchdog.join();

    for (const std::string& m : fail.messages) ADD_FAILURE() << m;
    EXPECT_GT(tally.flushes.load(), 0u);
    for (int i = 0; i < kPorts; ++i) EXPECT_GT(tally.perPort[static_cast<std::size_t>(i)].load(), 0u) << plans[static_cast<std::size_t>(i)].port;
    std::printf("calls %llu, values %llu, flushes %llu\n", static_cast<unsigned long long>(tally.calls.load()),
                static_cast<unsigned long long>(tally.values.load()),
                static_cast<unsigned long long>(tally.flushes.load()));

    // Every port still answers after the storm.
    for (const PortPlan& p : plans) {
        const int r = TKAflushBuffer(p.port);
        EXPECT_TRUE(r == 0 || r == 1) << p.port << ": " << r;
        EXPECT_EQ(TKAmodel(p.port), 3);
    }
}

}  // namespace
}  // namespace nxtka
