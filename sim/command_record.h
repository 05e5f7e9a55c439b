// What the simulated amplifier received: every command with the times its
// bytes arrived, counts per code, and the undefined codes apart. Not locked
// itself; the model's lock guards it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace nxtka::sim {

using Clock = std::chrono::steady_clock;

struct ReceivedCommand {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> params;
    Clock::time_point at;   // when its last byte arrived
    // When each byte arrived: the code's, then each parameter byte's. Bytes
    // that came in one piece share their time.
    std::vector<Clock::time_point> byteTimes;
    bool defined = true;    // false: not in the command table
    // The parameter bytes as a big-endian number.
    std::uint64_t value() const;
};

class CommandRecord {
public:
    static constexpr std::size_t kLogLimit = 65536;

    void add(const ReceivedCommand& c);  // undefined ones are also kept apart
    void noteUnmodelled() { ++unmodelled_; }
    void clear();

    std::vector<ReceivedCommand> commands() const { return {log_.begin(), log_.end()}; }
    std::size_t count(int code) const { return counts_[static_cast<std::size_t>(code & 0xFF)]; }
    std::size_t total() const { return total_; }
    const std::vector<ReceivedCommand>& undefined() const { return undefined_; }
    std::size_t undefinedCount() const { return undefinedCount_; }
    std::size_t unmodelledCount() const { return unmodelled_; }

private:
    std::deque<ReceivedCommand> log_;  // the most recent kLogLimit
    std::vector<ReceivedCommand> undefined_;
    std::size_t undefinedCount_ = 0;
    std::size_t unmodelled_ = 0;
    std::array<std::size_t, 256> counts_{};
    std::size_t total_ = 0;
};

}  // namespace nxtka::sim
