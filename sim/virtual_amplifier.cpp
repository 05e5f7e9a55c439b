#include "virtual_amplifier.h"

namespace nxtka::sim {

VirtualAmplifier::VirtualAmplifier(Config config, Options options)
    : options_(std::move(options)),
      model_(std::move(config)),
      link_(platform::VirtualLink::create()),
      pacer_(options_.baud),
      pump_(model_) {
    model_.setSink([this](const std::uint8_t* bytes, std::size_t count) {
        pacer_.pace(count);
        link_->peerWrite(bytes, count);
    });
    model_.setHangUpHandler([this] { link_->hangUp(); });
    model_.setLineSpeedHandler([this](std::uint32_t baud) { pacer_.setBaud(baud); });
    link_->registerAs(options_.name);
    pump_.start();
    reader_ = std::thread([this] { readLoop(); });
}

VirtualAmplifier::~VirtualAmplifier() { stop(); }

void VirtualAmplifier::stop() {
    if (stopped_) return;
    stopped_ = true;
    stop_ = true;
    link_->close();
    if (reader_.joinable()) reader_.join();
    pump_.stop();
    platform::VirtualLink::unregister(options_.name);
    model_.setSink(nullptr);
    model_.setHangUpHandler(nullptr);
    model_.setLineSpeedHandler(nullptr);
}

void VirtualAmplifier::readLoop() {
    std::uint8_t buf[512];
    while (!stop_) {
        const std::size_t n = link_->peerRead(buf, sizeof buf, 100);
        if (n > 0)
            model_.feed(buf, n);
        else if (model_.hungUp())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the link may no longer block
    }
}

}  // namespace nxtka::sim
