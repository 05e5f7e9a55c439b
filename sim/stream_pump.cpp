#include "stream_pump.h"

namespace nxtka::sim {

void StreamPump::start() {
    {
        std::lock_guard lk(mu_);
        stop_ = false;
        kicked_ = false;
    }
    model_.setWakeHandler([this] { kick(); });
    thread_ = std::thread([this] { run(); });
}

void StreamPump::kick() {
    std::lock_guard lk(mu_);
    kicked_ = true;
    cv_.notify_one();
}

void StreamPump::stop() {
    {
        std::lock_guard lk(mu_);
        stop_ = true;
        cv_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
    model_.setWakeHandler(nullptr);
}

void StreamPump::run() {
    std::unique_lock lk(mu_);
    while (!stop_) {
        kicked_ = false;
        lk.unlock();
        Clock::time_point next = model_.pump();
        lk.lock();
        if (stop_) break;
        if (kicked_) continue;
        // Look again now and then even when idle, so a missed wake-up costs
        // at most this long.
        const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(200);
        if (next > limit) next = limit;
        cv_.wait_until(lk, next, [this] { return stop_ || kicked_; });
    }
}

}  // namespace nxtka::sim
