// The values of several active ports, read by one thread: it waits on all
// their data events at once (poll), reads what waits with NXreadTimed and
// hands each batch to a callback. A port whose line fails or whose read
// fails is reported once through a second callback, with the library's
// reason, and left out from then on; the others go on. The gathering ends
// when every port has failed, at the deadline, or when `stop` is set (or
// the wake descriptor, e.g. SignalWatch::wakeFd(), becomes readable).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nxtka_cli {

struct Batch {
    std::size_t amplifier = 0;  // index into the ports given to gather()
    std::uint64_t firstSequence = 0;
    std::vector<double> values;
    std::vector<unsigned char> statuses;
    std::vector<std::int64_t> times;  // nanoseconds since 1970-01-01 UTC
    std::vector<std::uint64_t> sequences;
};

struct GatherOptions {
    const std::atomic<bool>* stop = nullptr;  // set: stop at the next wake-up
    int wakeFd = -1;                          // readable: stop
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // How often onTick runs (progress lines), and the longest wait between
    // looks at `stop`.
    std::chrono::milliseconds tick{250};
    std::int32_t batchSize = 4096;
};

struct GatherCallbacks {
    std::function<void(const Batch&)> onBatch;
    std::function<void(std::size_t amplifier, const std::string& reason)> onFailure;
    std::function<void()> onTick;  // may be empty
};

enum class GatherEnd { deadline, stopped, allFailed };

// Gathers from `ports` (active library ports) in the calling thread until
// one of the ends above. Throws ToolError when a port has no data event.
GatherEnd gather(const std::vector<std::uint32_t>& ports, const GatherOptions& options,
                 const GatherCallbacks& callbacks);

}  // namespace nxtka_cli
