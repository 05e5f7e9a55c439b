#include "amplifier_session.h"

#include "library_failure.h"
#include "nxtka.h"
#include "settings.h"

#include <nlohmann/json.hpp>

namespace nxtka_cli {

AmplifierIdentity readAmplifierIdentity(std::uint32_t port) {
    AmplifierIdentity id;
    id.model = TKAgetDeviceType(port);
    id.level = TKAmodel(port);
    if (id.model < 0) id.model = -1;
    if (id.level < 0) id.level = -1;
    if (const Setting* s = findSetting("serial")) {
        const Reading r = readSetting(*s, port);
        if (r.outcome == Outcome::ok) id.serial = r.text;
    }
    const std::int32_t firmware = TKAfirmwareVersion(port);
    if (firmware >= 0) id.firmware = formatFirmware(firmware);
    return id;
}

std::string identityJson(const AmplifierIdentity& identity) {
    nlohmann::ordered_json j;
    j["model"] = identity.model;
    j["serial"] = identity.serial;
    j["firmware"] = identity.firmware;
    j["level"] = identity.level;
    return j.dump();
}

AmplifierSession::AmplifierSession(const AmplifierEntry& entry, SignalWatch& signals) {
    Target target;
    target.device = entry.device;
    target.port = entry.port;
    if (entry.baud) target.baud = *entry.baud;
    port_ = std::make_unique<ActivePort>(target, signals);
    for (const auto& [name, value] : entry.settings) {
        const Setting& s = settingNamed(name);
        if (s.set == nullptr) throw ToolError("setting '" + name + "' can only be read", kExitUsage);
        if (s.set(port_->port(), value, true) != Outcome::ok) {
            const LibraryFailure why = lastLibraryFailure();
            throw ToolError("setting " + name + " " + value + " on " + port_->device() + " failed: " +
                            (why.text.empty() ? std::string(s.setName) + " returned -1 without a reason" : why.text));
        }
    }
    identity_ = readAmplifierIdentity(port_->port());
}

}  // namespace nxtka_cli
