// The simulated amplifier at the far end of an in-process VirtualLink.
//
// Construction creates the link, registers it under a device name (so that
// an activation opens it by name once the device opener is
// platform::VirtualLink::open) and starts two threads: one reads the host's
// bytes and feeds the model, one emits value frames and delayed answers on
// time. Output is paced to the configured line speed.
#pragma once

#include "amplifier_model.h"
#include "line_pacer.h"
#include "stream_pump.h"

#include "platform/virtual_device.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace nxtka::sim {

struct VirtualOptions {
    std::string name = "virtual:0";  // device name activation opens
    std::uint32_t baud = 38400;      // pacing of the output; 0: none
};

class VirtualAmplifier {
public:
    using Options = VirtualOptions;

    explicit VirtualAmplifier(Config config = {}, Options options = {});
    ~VirtualAmplifier();
    VirtualAmplifier(const VirtualAmplifier&) = delete;
    VirtualAmplifier& operator=(const VirtualAmplifier&) = delete;

    AmplifierModel& model() { return model_; }
    const std::string& name() const { return options_.name; }
    const std::shared_ptr<platform::VirtualLink>& link() const { return link_; }

    // The link's own faults (failing writes, flushes, modem lines...).
    platform::VirtualLink::Faults linkFaults() const { return link_->faults(); }
    void setLinkFaults(const platform::VirtualLink::Faults& f) { link_->setFaults(f); }

    // Stops both threads and unregisters the name. Idempotent.
    void stop();

private:
    void readLoop();

    Options options_;
    AmplifierModel model_;
    std::shared_ptr<platform::VirtualLink> link_;
    LinePacer pacer_;  // used only from the sink, under the model's lock
    StreamPump pump_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    bool stopped_ = false;
};

}  // namespace nxtka::sim
