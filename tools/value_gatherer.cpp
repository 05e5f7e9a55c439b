#include "value_gatherer.h"

#include "cli_core.h"
#include "library_failure.h"
#include "nxtka.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nxtka_cli {
namespace {

using Clock = std::chrono::steady_clock;

// A port that may have had values for a while is read at most this many
// batches per wake-up, so the others are not kept waiting.
constexpr int kBatchesPerWake = 8;

std::string failureReason() {
    const LibraryFailure f = lastLibraryFailure();
    return f.text.empty() ? std::string("the port is no longer active; check the connection")
                          : f.text + "; check the connection";
}

}  // namespace

GatherEnd gather(const std::vector<std::uint32_t>& ports, const GatherOptions& options,
                 const GatherCallbacks& callbacks) {
    std::vector<NXTKA_EVENT> events(ports.size());
    std::vector<bool> alive(ports.size(), true);
    for (std::size_t i = 0; i < ports.size(); ++i) events[i] = NXrequestEvent(ports[i]);

    const std::int32_t size = std::max<std::int32_t>(1, options.batchSize);
    Batch batch;
    batch.values.resize(static_cast<std::size_t>(size));
    batch.statuses.resize(static_cast<std::size_t>(size));
    batch.times.resize(static_cast<std::size_t>(size));
    batch.sequences.resize(static_cast<std::size_t>(size));

    // Reads what waits on one port; false when the port failed.
    const auto drain = [&](std::size_t i) {
        for (int round = 0; round < kBatchesPerWake; ++round) {
            batch.values.resize(static_cast<std::size_t>(size));
            batch.statuses.resize(static_cast<std::size_t>(size));
            batch.times.resize(static_cast<std::size_t>(size));
            batch.sequences.resize(static_cast<std::size_t>(size));
            std::int32_t delivered = 0;
            const std::int32_t r = NXreadTimed(ports[i], batch.values.data(), batch.statuses.data(),
                                               batch.times.data(), batch.sequences.data(), size, &delivered);
            if (r < 0) {
                alive[i] = false;
                if (callbacks.onFailure) callbacks.onFailure(i, failureReason());
                return;
            }
            if (r == 0 || delivered <= 0) return;
            const auto n = static_cast<std::size_t>(delivered);
            batch.values.resize(n);
            batch.statuses.resize(n);
            batch.times.resize(n);
            batch.sequences.resize(n);
            batch.amplifier = i;
            batch.firstSequence = batch.sequences.front();
            if (callbacks.onBatch) callbacks.onBatch(batch);
        }
    };

    Clock::time_point nextTick = Clock::now() + options.tick;
    std::vector<pollfd> fds;
    std::vector<std::size_t> owner;
    for (;;) {
        if (options.stop && options.stop->load()) return GatherEnd::stopped;
        const Clock::time_point now = Clock::now();
        if (options.deadline && now >= *options.deadline) return GatherEnd::deadline;
        if (std::none_of(alive.begin(), alive.end(), [](bool a) { return a; })) return GatherEnd::allFailed;
        if (now >= nextTick) {
            if (callbacks.onTick) callbacks.onTick();
            nextTick = now + options.tick;
        }

        fds.clear();
        owner.clear();
        bool eventless = false;
        if (options.wakeFd >= 0) {
            fds.push_back({options.wakeFd, POLLIN, 0});
            owner.push_back(ports.size());
        }
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (!alive[i]) continue;
            if (events[i] <= 0) {
                eventless = true;  // no event: looked at every 20 ms
                continue;
            }
            fds.push_back({events[i], POLLIN, 0});
            owner.push_back(i);
        }
        Clock::time_point until = nextTick;
        if (options.deadline) until = std::min(until, *options.deadline);
        auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
        if (eventless) waitMs = std::min<long long>(waitMs, 20);
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, waitMs)));
        if (ready < 0 && errno != EINTR) throw ToolError(std::string("waiting for values failed: ") + std::strerror(errno));
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) continue;
            if (owner[k] == ports.size()) return GatherEnd::stopped;
            drain(owner[k]);
        }
        if (eventless)
            for (std::size_t i = 0; i < ports.size(); ++i)
                if (alive[i] && events[i] <= 0) drain(i);
    }
}

}  // namespace nxtka_cli
