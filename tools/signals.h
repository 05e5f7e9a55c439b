// Ctrl-C and friends for the tool: SIGINT, SIGTERM and SIGHUP are blocked in
// every thread (so the library's and the simulator's threads never see them)
// and taken by one watcher thread. The first one asks the running command to
// stop at its next safe point (stopRequested(), and wakeFd() becomes
// readable); the command then releases the port and says how far it got.
// While the command waits for something it cannot cut short (a byte being
// written, an adjustment the amplifier finishes by itself), each press says
// what it waits for. Only during an activation does a press end the process
// at once.
#pragma once

#include <atomic>
#include <thread>

namespace nxtka_cli {

class SignalWatch {
public:
    // Must be made before any other thread starts.
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool stopRequested() const { return stop_.load(); }
    int wakeFd() const { return pipe_[0]; }
    // While set, a signal ends the process at once with status 130.
    void setInterruptNow(bool on) { interruptNow_.store(on); }
    // What the command waits for before it can stop, said on every press
    // ("after the byte being written"); nullptr when it stops at once. The
    // text must outlive its use (a literal).
    void setStopPoint(const char* text) { stopPoint_.store(text); }

private:
    void run();

    int pipe_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::atomic<bool> interruptNow_{false};
    std::atomic<bool> quitting_{false};
    std::atomic<const char*> stopPoint_{nullptr};
    std::thread thread_;
};

}  // namespace nxtka_cli
