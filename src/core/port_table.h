// The table of 1024 ports and the library-wide locks.
//
// A slot's two mutexes are published (non-null) only while the port is
// active; a call that finds them null fails at once. Release clears them but
// keeps the mutex objects alive for the slot's lifetime, so a thread that read
// a handle just before release still waits on a valid mutex, then finds no
// session and fails. A later activation of the same port reuses them, so no
// mutex is ever leaked or freed while someone may wait on it.
#pragma once

#include "core/session.h"
#include "platform/platform.h"

#include <atomic>
#include <memory>
#include <string>

namespace nxtka {

inline constexpr unsigned kPortCount = 1024;

struct PortSlot {
    std::atomic<platform::Mutex*> apiMutex{nullptr};
    std::atomic<platform::Mutex*> ringMutex{nullptr};
    std::atomic<PortSession*> session{nullptr};
    // Set while a release (or a failed activation) closes the session it took
    // out of the slot: the device is still open until it is cleared again.
    std::atomic<bool> releasing{false};

    // The mutex objects behind the two handles; created on first activation.
    std::unique_ptr<platform::Mutex> apiStore;
    std::unique_ptr<platform::Mutex> ringStore;
};

class Library {
public:
    Library();
    ~Library();  // library unload: closes every active port, in port order

    PortSlot& slot(unsigned port) { return slots_[port]; }
    platform::Mutex& activationMutex() { return activationMutex_; }
    platform::Mutex& tableMutex() { return tableMutex_; }

    // Takes the session out of the slot under the table mutex.
    PortSession* takeSession(unsigned port);
    // Takes the session out of the slot, clears the slot's mutex handles and
    // closes the session; the slot counts as releasing until the device is
    // closed. Releases the two mutexes passed.
    void releaseSlot(unsigned port, platform::Mutex* apiMutex, platform::Mutex* ringMutex);

    // The device a port opens at its next activation.
    std::string deviceName(unsigned port);
    bool setDeviceName(unsigned port, const char* name);

private:
    PortSlot slots_[kPortCount];
    platform::Mutex activationMutex_;
    platform::Mutex tableMutex_;
    std::mutex namesLock_;
    std::unique_ptr<std::string> names_[kPortCount];
};

Library& library();

}  // namespace nxtka
