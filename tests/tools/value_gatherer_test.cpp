// The value gatherer and the scale read from an amplifier, in this process
// against simulator programs on pseudo-terminals: one thread reads several
// amplifiers; one whose line goes away is reported once and the others go
// on, their values numbered without gaps.
#include "active_port.h"
#include "amplifier_session.h"
#include "nxtka.h"
#include "signals.h"
#include "subprocess.h"
#include "units.h"
#include "value_gatherer.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <map>

namespace nxtka_cli {
namespace {

using test::SimProcess;

const std::string kSim = NXTKA_SIM_PATH;

// The tool's signal watch blocks SIGTERM in this process; the simulators
// started after it must not inherit that, or they could not be stopped.
void unblockInChild() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
}

SignalWatch& signals() {
    static SignalWatch watch;  // before the library starts a thread
    static const bool registered = pthread_atfork(nullptr, nullptr, unblockInChild) == 0;
    EXPECT_TRUE(registered);
    return watch;
}

Target at(const SimProcess& sim, std::int64_t port) {
    Target t;
    t.device = sim.device();
    t.port = port;
    return t;
}

TEST(ValueGatherer, AFailedLineIsReportedOnceAndTheOthersGoOn) {
    SignalWatch& watch = signals();
    SimProcess first(kSim, {"--rate", "200"});
    SimProcess second(kSim, {"--rate", "200"});
    ActivePort a(at(first, 0), watch), b(at(second, 1), watch);

    std::map<std::size_t, std::uint64_t> counts, nextSequence;
    std::map<std::size_t, std::vector<std::string>> failures;
    std::uint64_t secondAtFailure = 0;
    bool gapless = true, timesRise = true;
    std::map<std::size_t, std::int64_t> lastTime;
    std::atomic<bool> stop{false};
    GatherCallbacks callbacks;
    callbacks.onBatch = [&](const Batch& batch) {
        ASSERT_EQ(batch.values.size(), batch.sequences.size());
        ASSERT_EQ(batch.values.size(), batch.times.size());
        ASSERT_EQ(batch.values.size(), batch.statuses.size());
        EXPECT_EQ(batch.firstSequence, batch.sequences.front());
        for (std::size_t k = 0; k < batch.values.size(); ++k) {
            auto& next = nextSequence[batch.amplifier];
            if (counts[batch.amplifier] > 0 && batch.sequences[k] != next) gapless = false;
            next = batch.sequences[k] + 1;
            if (batch.times[k] < lastTime[batch.amplifier]) timesRise = false;
            lastTime[batch.amplifier] = batch.times[k];
            ++counts[batch.amplifier];
        }
        if (counts[0] >= 40 && failures.empty()) first.stop();  // its line goes away
    };
    callbacks.onFailure = [&](std::size_t amplifier, const std::string& reason) {
        failures[amplifier].push_back(reason);
        secondAtFailure = counts[1];
    };
    callbacks.onTick = [&] {
        if (!failures.empty() && counts[1] >= secondAtFailure + 60) stop = true;
    };
    GatherOptions options;
    options.stop = &stop;
    options.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    options.tick = std::chrono::milliseconds(50);
    const GatherEnd end = gather({a.port(), b.port()}, options, callbacks);

    EXPECT_EQ(end, GatherEnd::stopped) << "the second amplifier did not go on";
    ASSERT_EQ(failures.size(), 1u);
    ASSERT_EQ(failures.count(0), 1u);
    EXPECT_EQ(failures[0].size(), 1u);
    EXPECT_FALSE(failures[0].front().empty());
    EXPECT_GE(counts[0], 40u);
    EXPECT_GE(counts[1], secondAtFailure + 60);
    EXPECT_TRUE(gapless);
    EXPECT_TRUE(timesRise);
    // A time in this century, in nanoseconds.
    EXPECT_GT(lastTime[1], std::int64_t{1'600'000'000} * 1'000'000'000);
}

// The sensor scale from what the amplifier holds: input range 2.5 mV/V,
// rated output 2 mV/V for 500 N, so normalized 1.0 is 2.5 / 2 x 500 = 625 N.
TEST(ValueGatherer, ScaleReadFromTheAmplifier) {
    SignalWatch& watch = signals();
    SimProcess sim(kSim, {"--rate", "0"});
    ActivePort port(at(sim, 2), watch);
    ASSERT_EQ(NXwriteRange(port.port(), 2.5), 0);
    ASSERT_EQ(TKAsetRatedOutput(port.port(), 2.0), 0);
    ASSERT_EQ(TKAsetSensorCapacity(port.port(), 500.0), 0);
    ScaleRequest request;
    request.kind = ScaleRequest::Kind::sensor;
    request.unitName = "N";
    const Scale sensor = resolveScale(port.port(), request);
    EXPECT_DOUBLE_EQ(sensor.apply(1.0), 625.0);
    EXPECT_DOUBLE_EQ(sensor.apply(-0.2), -125.0);
    EXPECT_EQ(sensor.unit, "N");
    request.kind = ScaleRequest::Kind::mvPerV;
    EXPECT_DOUBLE_EQ(resolveScale(port.port(), request).apply(0.4), 1.0);

    const AmplifierIdentity id = readAmplifierIdentity(port.port());
    EXPECT_EQ(id.level, TKAmodel(port.port()));
    EXPECT_GE(id.model, 0);
    EXPECT_EQ(id.serial.size(), 8u);
}

}  // namespace
}  // namespace nxtka_cli
