// A session built directly on a device, with its receive thread running, for
// tests of the layers below activation.
#pragma once

#include "core/activation.h"
#include "core/session.h"
#include "stream/receive_thread.h"

#include <memory>

namespace nxtka::test {

class TestSession {
public:
    explicit TestSession(std::unique_ptr<platform::SerialDevice> device, std::int64_t capacity = 64) {
        s_ = new PortSession;
        s_->ringMutex = &ringMutex_;
        s_->rxBuffer.reset(new std::uint8_t[kRxBufferSize]);
        s_->ring.allocate(capacity);
        s_->device = std::move(device);
        s_->holdValues = 0;
        if (s_->device) s_->thread.start(receiveThreadMain, s_, kReceiveThreadStack);
    }
    ~TestSession() { closeSession(s_, nullptr, nullptr); }
    TestSession(const TestSession&) = delete;
    TestSession& operator=(const TestSession&) = delete;

    PortSession& operator*() { return *s_; }
    PortSession* operator->() { return s_; }
    platform::Mutex& ringMutex() { return ringMutex_; }

    std::uint32_t ringCount() {
        ringMutex_.lock();
        const std::uint32_t n = s_->ring.count();
        ringMutex_.unlock();
        return n;
    }
    // Waits until the ring holds `n` records (at most `ms`).
    bool waitForRecords(std::uint32_t n, std::uint32_t ms = 3000) {
        const std::uint32_t start = platform::tickCount();
        while (ringCount() < n) {
            if (platform::tickCount() - start > ms) return false;
            platform::sleepMs(2);
        }
        return true;
    }

private:
    platform::Mutex ringMutex_;
    PortSession* s_ = nullptr;
};

}  // namespace nxtka::test
