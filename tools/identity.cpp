#include "identity.h"

#include "cli_core.h"
#include "nxtka.h"

#include <cstdio>

namespace nxtka_cli {
namespace {

void printField(const char* label, const std::string& value) { std::printf("  %-15s %s\n", label, value.c_str()); }

}  // namespace

std::string libraryVersion() { return formatLibraryVersion(TKAversion(), TKArevision()); }

Identity readIdentity(const ActivePort& port, const std::function<void()>& beforeEach) {
    Identity identity;
    for (const Setting& s : settingsTable()) {
        if (s.infoLabel == nullptr || s.get == nullptr) continue;
        beforeEach();
        identity.emplace_back(&s, readSetting(s, port.port()));
    }
    return identity;
}

void printIdentity(const ActivePort& port, const Identity& identity) {
    printField("device", port.device() + " (port " + std::to_string(port.port()) + ")");
    printField("library", libraryVersion());
    for (const auto& [s, r] : identity)
        printField(s->infoLabel, r.outcome == Outcome::ok ? r.text : "(" + r.failure + ")");
}

}  // namespace nxtka_cli
