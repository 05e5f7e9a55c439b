// The simulated amplifier behind a pseudo-terminal, for programs that open a
// real device name (e.g. NXsetDeviceName(port, "/dev/pts/N")).
//
// It keeps the slave side open itself, in raw mode, so the master never sees
// a hang-up between the host's activations and the host's bytes are never
// echoed back. One thread reads the host's bytes from the master and feeds the
// model; a second emits value frames and delayed answers on time. Output is
// paced to the configured line speed. A hang-up fault closes the master.
#pragma once

#include "amplifier_model.h"
#include "line_pacer.h"
#include "stream_pump.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace nxtka::sim {

struct PtyOptions {
    std::uint32_t baud = 38400;  // pacing of the output; 0: none
    std::string symlink;         // stable name made to point at the slave (removed at stop)
};

class PtyAmplifier {
public:
    using Options = PtyOptions;

    // Opens the pseudo-terminal and starts; throws std::system_error.
    explicit PtyAmplifier(Config config = {}, Options options = {});
    ~PtyAmplifier();
    PtyAmplifier(const PtyAmplifier&) = delete;
    PtyAmplifier& operator=(const PtyAmplifier&) = delete;

    AmplifierModel& model() { return model_; }
    const std::string& slavePath() const { return slavePath_; }
    // The symlink, empty when none was asked for.
    const std::string& symlinkPath() const { return options_.symlink; }
    // Bytes dropped because nobody read the slave for a long time.
    std::uint64_t droppedBytes() const { return dropped_; }
    // True once a hang-up closed the master.
    bool closed() const { return closed_; }

    // Stops both threads, closes everything, removes the symlink. Idempotent.
    void stop();

private:
    void ioLoop();
    void write(const std::uint8_t* bytes, std::size_t count);
    void signalWake();
    void closeMaster();

    Options options_;
    AmplifierModel model_;
    LinePacer pacer_;
    StreamPump pump_;
    std::string slavePath_;
    int slaveFd_ = -1;
    int wakeFd_ = -1;
    std::mutex fdMu_;  // guards masterFd_ against closing while a write uses it
    int masterFd_ = -1;
    bool stalled_ = false;  // the last write timed out (under fdMu_)
    std::atomic<bool> stop_{false};
    std::atomic<bool> hangUpRequested_{false};
    std::atomic<bool> closed_{false};
    std::atomic<std::uint64_t> dropped_{0};
    std::thread io_;
    bool stopped_ = false;
    bool linkMade_ = false;
};

}  // namespace nxtka::sim
