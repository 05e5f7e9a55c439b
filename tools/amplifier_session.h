// One amplifier of an amplifier list, opened: activated at its port, device
// and line speed, its settings applied in order (as `nxtka set` applies
// them), its identity read.
#pragma once

#include "active_port.h"
#include "amplifier_list.h"

#include <cstdint>
#include <memory>
#include <string>

namespace nxtka_cli {

class SignalWatch;

// Who the amplifier is: its device type ("model"), protocol level, serial
// number and firmware version (-1 and "" for what could not be read).
struct AmplifierIdentity {
    std::int64_t model = -1;
    std::int64_t level = -1;
    std::string serial;
    std::string firmware;
};

AmplifierIdentity readAmplifierIdentity(std::uint32_t port);

// {"model": n, "serial": "...", "firmware": "...", "level": n}
std::string identityJson(const AmplifierIdentity& identity);

class AmplifierSession {
public:
    // Throws ToolError with one line saying what failed: the activation (as
    // ActivePort says it) or the setting that was not taken and why.
    AmplifierSession(const AmplifierEntry& entry, SignalWatch& signals);

    ActivePort& port() { return *port_; }
    const AmplifierIdentity& identity() const { return identity_; }
    void release() { port_->release(); }

private:
    std::unique_ptr<ActivePort> port_;
    AmplifierIdentity identity_;
};

}  // namespace nxtka_cli
