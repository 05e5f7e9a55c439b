// Ctrl-C and friends for the tool: SIGINT, SIGTERM and SIGHUP are blocked in
// every thread (so the library's and the simulator's threads never see them)
// and taken by one watcher thread. The first one asks the running loop to
// stop (wakeFd() becomes readable); a second one within half a second counts
// as the same press; a later one, or one that arrives while `interruptNow` is
// set (an activation that cannot be cut short), ends the process at once.
#pragma once

#include <atomic>
#include <chrono>
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

private:
    void run();

    int pipe_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::atomic<bool> interruptNow_{false};
    std::atomic<bool> quitting_{false};
    static constexpr std::chrono::milliseconds kDoublePress{500};
    std::chrono::steady_clock::time_point firstStop_{};  // watcher thread only
    std::thread thread_;
};

}  // namespace nxtka_cli
