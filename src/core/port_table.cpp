#include "core/port_table.h"

#include "core/activation.h"
#include "nxtka.h"

#include <cstring>

namespace nxtka {

namespace {
// How long unload waits for a call still running on a port before it closes
// the port regardless.
constexpr std::uint32_t kUnloadLockWaitMs = 2000;
}  // namespace

Library::Library() = default;

Library::~Library() {
    platform::beginLibraryUnload();
    activationMutex_.lock();
    for (unsigned port = 0; port < kPortCount; ++port) {
        PortSlot& s = slots_[port];
        platform::Mutex* api = s.apiMutex.load();
        platform::Mutex* ring = s.ringMutex.load();
        const bool owned = api != nullptr && ring != nullptr && platform::lockBoth(*api, *ring, kUnloadLockWaitMs);
        s.apiMutex = nullptr;
        s.ringMutex = nullptr;
        PortSession* session = takeSession(port);
        closeSession(session, owned ? api : nullptr, owned ? ring : nullptr);
    }
    activationMutex_.unlock();
}

PortSession* Library::takeSession(unsigned port) {
    tableMutex_.lock();
    PortSession* s = slots_[port].session.exchange(nullptr);
    tableMutex_.unlock();
    return s;
}

void Library::releaseSlot(unsigned port, platform::Mutex* apiMutex, platform::Mutex* ringMutex) {
    PortSlot& s = slots_[port];
    s.releasing = true;
    PortSession* session = takeSession(port);
    s.apiMutex = nullptr;
    s.ringMutex = nullptr;
    closeSession(session, apiMutex, ringMutex);
    s.releasing = false;
}

std::string Library::deviceName(unsigned port) {
    std::lock_guard<std::mutex> lock(namesLock_);
    return names_[port] ? *names_[port] : platform::defaultDeviceName(port);
}

bool Library::setDeviceName(unsigned port, const char* name) {
    std::lock_guard<std::mutex> lock(namesLock_);
    if (name == nullptr || name[0] == '\0') {
        names_[port].reset();
        return true;
    }
    const std::size_t len = strnlen(name, NXTKA_DEVICE_NAME_MAX);
    if (len >= NXTKA_DEVICE_NAME_MAX) return false;
    names_[port] = std::make_unique<std::string>(name, len);
    return true;
}

namespace {
Library gLibrary;
}  // namespace

Library& library() { return gLibrary; }

}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL NXsetDeviceName(uint32_t port, const char* name) {
    if (port >= kPortCount) return -1;
    return library().setDeviceName(port, name) ? 0 : -1;
}

NXTKA_API int32_t NXTKA_CALL NXgetDeviceName(uint32_t port, char* buffer, int32_t size) {
    if (port >= kPortCount || buffer == nullptr || size <= 0) return -1;
    const std::string name = library().deviceName(port);
    if (name.size() + 1 > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return static_cast<int32_t>(name.size());
}

}  // extern "C"
