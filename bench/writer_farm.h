// A writer process on pseudo-terminals for the end-to-end benchmarks.
//
// The parent opens every slave side (raw, kept open so no master ever sees a
// hang-up) and forks; the child keeps the masters. Between commands the child
// answers whatever arrives on a master with a simulated amplifier (so ports
// can be activated and commands answered); on command it writes value frames:
// a burst as fast as the line takes it, a paced stream on many lines, or one
// frame stamped with the monotonic clock. Its CPU time is not the parent's.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace nxtka::bench {

class WriterFarm {
public:
    // Opens `lines` pseudo-terminals and starts the writer process.
    explicit WriterFarm(int lines);
    ~WriterFarm();  // ends the writer process
    WriterFarm(const WriterFarm&) = delete;
    WriterFarm& operator=(const WriterFarm&) = delete;

    const std::string& path(int line) const { return paths_[static_cast<std::size_t>(line)]; }
    // The parent's own descriptor on the slave (blocking, raw).
    int slave(int line) const { return slaves_[static_cast<std::size_t>(line)]; }

    // Writes `frames` 5-byte frames to `line` as fast as it takes them;
    // returns at once, finish with written().
    void burst(int line, std::uint64_t frames);
    // `ticks` times, one frame to each of `count` lines from `first`, `hz`
    // ticks a second; finish with written().
    void paced(int first, int count, int ticks, int hz);
    // One frame to `line`; the moment just before the write is in stamp().
    void stampedFrame(int line);
    // Frames the last burst or paced stream wrote (blocks until it is done).
    std::uint64_t written();
    // Monotonic nanoseconds taken by the writer just before the last stamped
    // frame, waiting for it if it is not there yet.
    std::int64_t stamp();

    // One 5-byte ',' frame with value `i` (24 bits).
    static void frame(std::uint64_t i, std::uint8_t* out);

private:
    void send(int op, int a, int b, std::uint64_t c);

    std::vector<std::string> paths_;
    std::vector<int> slaves_;
    std::vector<int> masters_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    void* shared_ = nullptr;
    std::int64_t lastStamp_ = 0;
};

// Monotonic clock in nanoseconds (the same clock in both processes).
std::int64_t monotonicNs();
// CPU time of the whole process in nanoseconds, kernel time included.
std::int64_t processCpuNs();
std::int64_t threadCpuNs();

}  // namespace nxtka::bench
