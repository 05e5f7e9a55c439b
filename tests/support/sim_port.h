// A port number wired to a simulated amplifier, on the in-process virtual
// device or on a real pseudo-terminal. The destructor releases the port and
// restores its default device name.
#pragma once

#include "amplifier_model.h"
#include "core/command_exchange.h"
#include "core/port_table.h"
#include "core/tuning.h"
#include "nxtka.h"
#include "platform/virtual_device.h"
#include "pty_amplifier.h"
#include "support/line.h"
#include "virtual_amplifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace nxtka::test {

inline void useVirtualDevices() {
    static const bool once = [] {
        platform::setDeviceOpener(&platform::VirtualLink::open);
        return true;
    }();
    (void)once;
}

class SimPort {
public:
    SimPort(unsigned port, LineKind kind, sim::Config config = {}, std::uint32_t baud = 38400) : port_(port) {
        useVirtualDevices();
        if (kind == LineKind::Virtual) {
            sim::VirtualAmplifier::Options o;
            o.name = "virtual:port" + std::to_string(port);
            o.baud = baud;
            virtual_ = std::make_unique<sim::VirtualAmplifier>(std::move(config), o);
            name_ = o.name;
        } else {
            sim::PtyAmplifier::Options o;
            o.baud = baud;
            pty_ = std::make_unique<sim::PtyAmplifier>(std::move(config), o);
            name_ = pty_->slavePath();
        }
        NXsetDeviceName(port, name_.c_str());
    }
    ~SimPort() {
        TKArelease(port_);
        NXsetDeviceName(port_, nullptr);
    }
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    unsigned port() const { return port_; }
    const std::string& deviceName() const { return name_; }
    sim::AmplifierModel& model() { return virtual_ ? virtual_->model() : pty_->model(); }
    // The virtual link (null on a pseudo-terminal).
    platform::VirtualLink* link() { return virtual_ ? virtual_->link().get() : nullptr; }
    bool isVirtual() const { return virtual_ != nullptr; }

    int activate(std::int32_t capacity = 1000) { return TKAactivate(port_, capacity); }
    int activate(const ActivationParams& p) { return TKAactivateExtended(port_, &p); }

    // Codes received so far, in order.
    std::vector<int> codes() {
        std::vector<int> out;
        for (const auto& c : model().commands()) out.push_back(c.code);
        return out;
    }

private:
    unsigned port_;
    std::string name_;
    std::unique_ptr<sim::VirtualAmplifier> virtual_;
    std::unique_ptr<sim::PtyAmplifier> pty_;
};

// Milliseconds since `start` by the library's tick.
inline std::uint32_t since(std::uint32_t start) { return platform::tickCount() - start; }

// Waits until `pred` holds, at most `ms`.
template <class Pred>
bool eventually(Pred pred, std::uint32_t ms = 3000) {
    const std::uint32_t start = platform::tickCount();
    while (!pred()) {
        if (since(start) > ms) return false;
        platform::sleepMs(2);
    }
    return true;
}

// A round trip on the line: the firmware query leaves after everything asked
// for before it, and its answer comes back behind every frame the amplifier
// sent before that, so once it is answered those values are in the ring.
inline bool roundTrip(unsigned port) {
    return NXreservedExec(
               port, 0,
               [](uint32_t p, int32_t) -> int32_t {
                   PortSession* s = library().slot(p).session.load();
                   std::uint32_t v = 0;
                   return requestValue(*s, cmd::kGetFirmware, CommandParam::none(), v) ? 1 : 0;
               },
               0) == 1;
}

// Asks the amplifier for `n` single values and waits until they are in the ring.
inline void requestValues(SimPort& sp, int n) {
    const std::size_t before = sp.model().commandCount(cmd::kSingleValue);
    for (int i = 0; i < n; ++i) ASSERT_EQ(TKAgetValue(sp.port()), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(3), before + static_cast<std::size_t>(n)));
    ASSERT_TRUE(roundTrip(sp.port()));
}

}  // namespace nxtka::test
