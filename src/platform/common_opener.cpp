#include "platform/platform.h"

#include <atomic>

namespace nxtka::platform {
namespace {
std::atomic<DeviceOpener> gOpener{nullptr};
}

void setDeviceOpener(DeviceOpener opener) { gOpener.store(opener, std::memory_order_release); }

std::unique_ptr<SerialDevice> openDevice(const std::string& name) {
    const DeviceOpener opener = gOpener.load(std::memory_order_acquire);
    return opener != nullptr ? opener(name) : openSystemDevice(name);
}

}  // namespace nxtka::platform
