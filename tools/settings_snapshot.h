// Every readable setting of an amplifier with its identity, as one JSON
// document that `set --from` (and the Python package) write back:
//
//   {"format": "nxtka-settings 1",
//    "identity": {"model": 1, "serial": "12345678", "firmware": "...", "level": 3},
//    "settings": {"gain": "3", "polarity": "bipolar", "rate": "100", ...},
//    "unreadable": {"can-baud": "why"}}       (only when some could not be read)
//
// A writable setting's value is the text `nxtka set` takes for it (the
// decoded text when set takes that, else the plain number); a read-only
// one's is the text `nxtka get` prints.
#pragma once

#include "amplifier_session.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nxtka_cli {

inline constexpr const char* kSnapshotFormat = "nxtka-settings 1";

// Reads every setting with a getter; `beforeEach` runs before each read (a
// safe point for Ctrl-C).
nlohmann::ordered_json takeSnapshot(std::uint32_t port, const std::function<void()>& beforeEach = {});

struct RestoreItem {
    enum class Outcome {
        holds,        // written and read back as given
        differs,      // written; the amplifier holds something else (`held`)
        unchecked,    // written; not read back (the line speed)
        failed,       // not taken (`reason`)
        readOnly,     // cannot be written: reported, not fatal
        factory,      // a factory setting (serial number, options, equipment): not copied
        unknown,      // no setting of that name: reported, not fatal
    };
    std::string name, value;
    Outcome outcome = Outcome::failed;
    std::string held, reason;
};

// Checks a snapshot document before anything is written: its format, that
// "settings" is an object of texts, and (unless `force`) that it comes from
// an amplifier of the same model as `amplifier`. Throws ToolError (status 2).
void checkSnapshot(const nlohmann::json& snapshot, const AmplifierIdentity* amplifier, bool force);

// Writes every writable setting of the snapshot in a safe order (the table's
// order, the mode byte with its settings lock and then the line speed
// last), reading each back. `beforeEach` runs before each write.
std::vector<RestoreItem> restoreSnapshot(std::uint32_t port, const nlohmann::json& snapshot,
                                         const std::function<void(const std::string&)>& beforeEach = {});

const char* outcomeWord(RestoreItem::Outcome outcome);

}  // namespace nxtka_cli
