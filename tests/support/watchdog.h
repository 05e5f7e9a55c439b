// Turns a hang into a failure: threads stuck in the library cannot be joined,
// so a step that does not finish in time ends the whole test program.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace nxtka::test {

// Ends the process when a step hangs, so that a deadlock is a failure and not
// a test that never ends (threads stuck in the library cannot be joined).
class Watchdog {
public:
    explicit Watchdog(std::chrono::milliseconds limit) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lk(mu_);
            if (!cv_.wait_for(lk, limit, [this] { return done_; })) {
                std::fprintf(stderr, "FAILED: %s did not finish within %lld ms\n", what_.c_str(),
                             static_cast<long long>(limit.count()));
                std::fflush(nullptr);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lk(mu_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void step(std::string what) {
        std::lock_guard<std::mutex> lk(mu_);
        what_ = std::move(what);
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    std::string what_ = "the test";
    std::thread thread_;
};

// Runs `f` on a thread of its own and waits at most `ms` for it; a call that
// does not return by then ends the process (it holds library locks forever).
inline std::int32_t onOtherThread(const char* what, std::uint32_t ms, std::function<std::int32_t()> f) {
    auto result = std::async(std::launch::async, std::move(f));
    if (result.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within %u ms\n", what, ms);
        std::fflush(nullptr);
        std::_Exit(1);
    }
    return result.get();
}

}  // namespace nxtka::test
