// Keeps the simulator's output no faster than a serial line of a given speed
// (8N1: ten bit times per byte), so frames do not arrive faster than a real
// amplifier could send them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace nxtka::sim {

class LinePacer {
public:
    // baud 0: no pacing.
    explicit LinePacer(std::uint32_t baud = 38400) { setBaud(baud); }

    void setBaud(std::uint32_t baud) {
        byteTime_ = baud == 0 ? Clock::duration::zero()
                              : std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000ull / baud));
    }

    // Waits until the line has room for `count` more bytes, then books them.
    // A backlog of up to kSlack is allowed, so short sleeps are not needed
    // for every byte on fast lines.
    void pace(std::size_t count) {
        if (byteTime_ == Clock::duration::zero()) return;
        const Clock::time_point now = Clock::now();
        if (free_ < now) free_ = now;
        if (free_ - now > kSlack) std::this_thread::sleep_until(free_ - kSlack);
        free_ += byteTime_ * static_cast<Clock::rep>(count);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kSlack = std::chrono::milliseconds(1);
    Clock::duration byteTime_{};
    Clock::time_point free_{};
};

}  // namespace nxtka::sim
