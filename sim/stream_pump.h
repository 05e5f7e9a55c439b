// The thread that keeps an AmplifierModel's time: it calls pump() whenever
// something falls due (a stream frame, a delayed or split answer byte) and
// sleeps in between. Both front ends use it.
#pragma once

#include "amplifier_model.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace nxtka::sim {

class StreamPump {
public:
    explicit StreamPump(AmplifierModel& model) : model_(model) {}
    ~StreamPump() { stop(); }
    StreamPump(const StreamPump&) = delete;
    StreamPump& operator=(const StreamPump&) = delete;

    void start();
    // Wakes the thread early (the model's schedule changed).
    void kick();
    void stop();

private:
    void run();

    AmplifierModel& model_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool kicked_ = false;
    std::thread thread_;
};

}  // namespace nxtka::sim
