#include "platform/virtual_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>

namespace nxtka::platform {
namespace {

// What a read or write reports once the other end has gone.
constexpr std::uint32_t kHangUpError = EIO;

struct Registry {
    std::mutex mu;
    std::map<std::string, std::weak_ptr<VirtualLink>> links;
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: used until the process ends
    return *r;
}

}  // namespace

struct VirtualLink::Device final : public SerialDevice {
    explicit Device(std::shared_ptr<VirtualLink> l) : link(std::move(l)), abortSeen(link->abortGeneration_) {}

    ~Device() override {
        std::lock_guard<std::mutex> lk(link->mu_);
        link->record_.open = false;
        ++link->record_.closes;
        link->device_ = nullptr;
        if (link->holding_) {
            link->holding_ = false;
            link->held_.clear();
            link->writeCv_.notify_all();
        }
    }

    // The peer gets the bytes. Called with the link's mutex held.
    static void deliver(VirtualLink& l, const std::uint8_t* bytes, std::size_t count) {
        l.output_.insert(l.output_.end(), bytes, bytes + count);
        l.written_.insert(l.written_.end(), bytes, bytes + count);
        l.peerCv_.notify_all();
    }

    // Ends a held write. Called with the link's mutex held.
    static void finishHeld(VirtualLink& l, bool ok) {
        if (!l.holding_) return;
        if (ok) deliver(l, l.held_.data(), l.held_.size());
        l.lastWriteCount_ = ok ? static_cast<std::uint32_t>(l.held_.size()) : 0;
        l.lastWriteOk_ = ok;
        l.holding_ = false;
        l.held_.clear();
        l.writeCv_.notify_all();
        if (l.device_ != nullptr) l.device_->done.set();
    }

    bool getLineSettings(LineSettings& out) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        if (link->faults_.getLineSettingsFail) return false;
        out = link->record_.settings;
        return true;
    }

    bool setLineSettings(const LineSettings& in) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        if (link->faults_.lineSettingsFail) return false;
        link->record_.settings = in;
        ++link->record_.settingsApplied;
        return true;
    }

    bool setZeroTimeouts() override { return true; }
    bool clearEventMask() override { return true; }

    bool setQueueSizes(std::uint32_t input, std::uint32_t output) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        link->record_.inQueue = input;
        link->record_.outQueue = output;
        return true;
    }

    bool purge(unsigned flags) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        ++link->record_.purges;
        link->record_.lastPurgeFlags = flags;
        if ((flags & kPurgeRxAbort) != 0) ++link->abortGeneration_;
        if ((flags & kPurgeRxClear) != 0) link->input_.clear();
        if ((flags & (kPurgeTxAbort | kPurgeTxClear)) != 0) finishHeld(*link, false);
        link->cv_.notify_all();
        return true;
    }

    bool clearErrors(std::uint32_t& errors) override {
        errors = 0;
        return true;
    }

    bool modemStatus(std::uint32_t& bits) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        if (!link->faults_.modemLines) return false;
        bits = link->faults_.cts ? kModemCts : 0u;
        return true;
    }

    WriteStart startWrite(const std::uint8_t* bytes, std::uint32_t count) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        VirtualLink& l = *link;
        if (l.holding_) return {WriteStart::Failed, 0, EBUSY};
        if (l.hungUp_) return {WriteStart::Failed, 0, kHangUpError};
        if (l.faults_.writeError != 0) return {WriteStart::Failed, 0, l.faults_.writeError};
        const std::uint32_t n = l.faults_.shortWrite > 0 ? std::min(l.faults_.shortWrite, count) : count;
        if (l.faults_.holdWrites) {
            l.holding_ = true;
            l.held_.assign(bytes, bytes + n);
            done.reset();
            return {WriteStart::Pending, 0, 0};
        }
        deliver(l, bytes, n);
        l.lastWriteCount_ = n;
        l.lastWriteOk_ = true;
        return {WriteStart::Completed, n, 0};
    }

    bool waitWrite(std::uint32_t& transferred) override {
        std::unique_lock<std::mutex> lk(link->mu_);
        link->writeCv_.wait(lk, [this] { return !link->holding_; });
        transferred = link->lastWriteCount_;
        return link->lastWriteOk_;
    }

    Event& writeDone() override { return done; }

    bool flush(std::uint32_t& error) override {
        std::lock_guard<std::mutex> lk(link->mu_);
        ++link->record_.flushes;
        error = link->faults_.flushError != 0 ? link->faults_.flushError : link->hungUp_ ? kHangUpError : 0;
        return error == 0;
    }

    ReadResult read(std::uint8_t* buf, std::uint32_t min, std::uint32_t max) override {
        if (max == 0) return {ReadResult::Ok, 0, 0};
        min = std::clamp<std::uint32_t>(min, 1, max);
        std::unique_lock<std::mutex> lk(link->mu_);
        VirtualLink& l = *link;
        for (;;) {
            if (l.abortGeneration_ != abortSeen) {
                abortSeen = l.abortGeneration_;
                return {ReadResult::Aborted, 0, errorCodes().aborted};
            }
            if (l.readError_ != 0) {
                const std::uint32_t e = l.readError_;
                l.readError_ = 0;
                return {ReadResult::Failed, 0, e};
            }
            if (l.hungUp_) return {ReadResult::Failed, 0, kHangUpError};
            if (l.input_.size() >= min) {
                const std::size_t n = std::min<std::size_t>(l.input_.size(), max);
                std::copy_n(l.input_.begin(), n, buf);
                l.input_.erase(l.input_.begin(), l.input_.begin() + static_cast<std::ptrdiff_t>(n));
                return {ReadResult::Ok, static_cast<std::uint32_t>(n), 0};
            }
            l.cv_.wait(lk);
        }
    }

    const std::shared_ptr<VirtualLink> link;
    Event done{true, true};
    unsigned abortSeen;  // guarded by the link's mutex
};

std::shared_ptr<VirtualLink> VirtualLink::create() { return std::shared_ptr<VirtualLink>(new VirtualLink); }

void VirtualLink::registerAs(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mu);
    r.links[name] = weak_from_this();
}

void VirtualLink::unregister(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mu);
    r.links.erase(name);
}

std::unique_ptr<SerialDevice> VirtualLink::open(const std::string& name) {
    std::shared_ptr<VirtualLink> link;
    bool registered = false;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lk(r.mu);
        const auto it = r.links.find(name);
        if (it != r.links.end()) {
            registered = true;
            link = it->second.lock();
        }
    }
    if (!registered) return openSystemDevice(name);
    if (!link) return nullptr;  // registered, but the link is gone
    std::lock_guard<std::mutex> lk(link->mu_);
    if (link->record_.open || link->faults_.openFails) return nullptr;
    auto device = std::make_unique<Device>(link);
    link->device_ = device.get();
    link->record_.open = true;
    ++link->record_.opens;
    return device;
}

void VirtualLink::peerWrite(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lk(mu_);
    input_.insert(input_.end(), bytes, bytes + count);
    cv_.notify_all();
}

std::size_t VirtualLink::peerRead(std::uint8_t* buf, std::size_t max, std::uint32_t ms) {
    std::unique_lock<std::mutex> lk(mu_);
    const auto ready = [this] { return closed_ || !output_.empty(); };
    if (ms == kInfinite) {
        peerCv_.wait(lk, ready);
    } else {
        peerCv_.wait_for(lk, std::chrono::milliseconds(ms), ready);
    }
    if (closed_ || max == 0) return 0;
    const std::size_t n = std::min(max, output_.size());
    std::copy_n(output_.begin(), n, buf);
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

std::vector<std::uint8_t> VirtualLink::written() const {
    std::lock_guard<std::mutex> lk(mu_);
    return written_;
}

void VirtualLink::hangUp() {
    std::lock_guard<std::mutex> lk(mu_);
    hungUp_ = true;
    Device::finishHeld(*this, false);
    cv_.notify_all();
}

void VirtualLink::injectReadError(std::uint32_t error) {
    std::lock_guard<std::mutex> lk(mu_);
    readError_ = error;
    cv_.notify_all();
}

void VirtualLink::completePendingWrite() {
    std::lock_guard<std::mutex> lk(mu_);
    Device::finishHeld(*this, true);
}

void VirtualLink::close() {
    std::lock_guard<std::mutex> lk(mu_);
    closed_ = true;
    peerCv_.notify_all();
}

VirtualLink::Faults VirtualLink::faults() const {
    std::lock_guard<std::mutex> lk(mu_);
    return faults_;
}

void VirtualLink::setFaults(const Faults& f) {
    std::lock_guard<std::mutex> lk(mu_);
    faults_ = f;
    if (!f.holdWrites) Device::finishHeld(*this, true);
}

VirtualLink::Record VirtualLink::record() const {
    std::lock_guard<std::mutex> lk(mu_);
    return record_;
}

std::size_t VirtualLink::inputPending() const {
    std::lock_guard<std::mutex> lk(mu_);
    return input_.size();
}

}  // namespace nxtka::platform
