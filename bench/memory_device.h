// A device that serves a prepared byte stream from memory, so the receive
// path can be measured without the operating system.
#pragma once

#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace nxtka::bench {

class MemoryDevice final : public platform::SerialDevice {
public:
    explicit MemoryDevice(const std::vector<std::uint8_t>& stream) : stream_(stream) {}
    void rewind() { pos_ = 0; }
    bool atEnd() const { return pos_ >= stream_.size(); }

    bool getLineSettings(platform::LineSettings&) override { return true; }
    bool setLineSettings(const platform::LineSettings&) override { return true; }
    bool setZeroTimeouts() override { return true; }
    bool clearEventMask() override { return true; }
    bool setQueueSizes(std::uint32_t, std::uint32_t) override { return true; }
    bool purge(unsigned) override { return true; }
    bool clearErrors(std::uint32_t& e) override { return (e = 0, true); }
    bool modemStatus(std::uint32_t& b) override { return (b = platform::kModemCts, true); }
    platform::WriteStart startWrite(const std::uint8_t*, std::uint32_t n) override {
        return {platform::WriteStart::Completed, n, 0};
    }
    bool waitWrite(std::uint32_t&) override { return true; }
    platform::Event& writeDone() override { return done_; }
    bool flush(std::uint32_t&) override { return true; }

    platform::ReadResult read(std::uint8_t* buf, std::uint32_t min, std::uint32_t max) override {
        if (pos_ + min > stream_.size()) return {platform::ReadResult::Aborted, 0, 0};
        const std::size_t n = std::min<std::size_t>(std::max(min, std::min<std::uint32_t>(max, 4096)), stream_.size() - pos_);
        std::memcpy(buf, stream_.data() + pos_, n);
        pos_ += n;
        return {platform::ReadResult::Ok, static_cast<std::uint32_t>(n), 0};
    }

private:
    const std::vector<std::uint8_t>& stream_;
    std::size_t pos_ = 0;
    platform::Event done_{true, true};
};

}  // namespace nxtka::bench
