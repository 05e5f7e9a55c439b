#include "identity.h"

#include "cli_core.h"
#include "nxtka.h"
#include "settings.h"

#include <cstdio>

namespace nxtka_cli {
namespace {

void printField(const char* label, const std::string& value) { std::printf("  %-15s %s\n", label, value.c_str()); }

}  // namespace

std::string libraryVersion() { return formatLibraryVersion(TKAversion(), TKArevision()); }

void printIdentity(const ActivePort& port) {
    printField("device", port.device() + " (port " + std::to_string(port.port()) + ")");
    printField("library", libraryVersion());
    for (const Setting& s : settingsTable()) {
        if (s.infoLabel == nullptr || s.get == nullptr) continue;
        const Reading r = readSetting(s, port.port());
        printField(s.infoLabel, r.outcome == Outcome::ok ? r.text : "(" + r.failure + ")");
    }
}

}  // namespace nxtka_cli
