#include "settings_snapshot.h"

#include "library_failure.h"
#include "settings.h"

#include <algorithm>
#include <cstring>

namespace nxtka_cli {
namespace {

bool isFactory(std::string_view name) { return name == "serial" || name == "options" || name == "equipment"; }

// Where a setting goes in the order of writing: the mode byte (it holds the
// settings lock) and the amplifier's line speed come last.
int lateness(std::string_view name) {
    if (name == "amp-baud") return 2;
    if (name == "mode") return 1;
    return 0;
}

// The text of a reading that `set` takes back.
std::string restorableText(const Setting& s, const Reading& r) {
    if (s.set == nullptr) return r.text;
    try {
        s.set(0, r.text, false);
        return r.text;
    } catch (const ToolError&) {
    }
    if (const auto* i = std::get_if<std::int64_t>(&r.plain)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&r.plain)) return formatReal(*d);
    if (const auto* t = std::get_if<std::string>(&r.plain)) return *t;
    return r.text;
}

}  // namespace

nlohmann::ordered_json takeSnapshot(std::uint32_t port, const std::function<void()>& beforeEach) {
    nlohmann::ordered_json doc;
    doc["format"] = kSnapshotFormat;
    const AmplifierIdentity id = readAmplifierIdentity(port);
    doc["identity"] = nlohmann::ordered_json::parse(identityJson(id));
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    nlohmann::ordered_json unreadable = nlohmann::ordered_json::object();
    for (const Setting& s : settingsTable()) {
        if (s.get == nullptr || std::strcmp(s.name, "received") == 0) continue;
        if (beforeEach) beforeEach();
        const Reading r = readSetting(s, port);
        if (r.outcome == Outcome::ok)
            settings[s.name] = restorableText(s, r);
        else
            unreadable[s.name] = r.failure;
    }
    doc["settings"] = std::move(settings);
    if (!unreadable.empty()) doc["unreadable"] = std::move(unreadable);
    return doc;
}

void checkSnapshot(const nlohmann::json& snapshot, const AmplifierIdentity* amplifier, bool force) {
    if (!snapshot.is_object() || snapshot.value("format", std::string()) != kSnapshotFormat)
        throw ToolError(std::string("not a settings file of this tool (its \"format\" is not \"") + kSnapshotFormat +
                            "\"; `nxtka get all --json` makes one)",
                        kExitUsage);
    const auto settings = snapshot.find("settings");
    if (settings == snapshot.end() || !settings->is_object())
        throw ToolError("the settings file has no \"settings\" object", kExitUsage);
    for (const auto& [name, value] : settings->items())
        if (!value.is_string())
            throw ToolError("setting " + name + " in the settings file is not a text in quotes", kExitUsage);
    if (amplifier == nullptr || force) return;
    const auto identity = snapshot.find("identity");
    if (identity == snapshot.end() || !identity->is_object() || !identity->contains("model")) return;
    const auto model = identity->at("model");
    if (model.is_number_integer() && model.get<std::int64_t>() != amplifier->model)
        throw ToolError("the settings file comes from an amplifier of model " + std::to_string(model.get<std::int64_t>()) +
                            ", this one is model " + std::to_string(amplifier->model) + " (--force writes it anyway)",
                        kExitUsage);
}

std::vector<RestoreItem> restoreSnapshot(std::uint32_t port, const nlohmann::json& snapshot,
                                         const std::function<void(const std::string&)>& beforeEach) {
    std::vector<RestoreItem> items;
    std::vector<std::pair<const Setting*, RestoreItem>> toWrite;
    for (const auto& [name, value] : snapshot.at("settings").items()) {
        RestoreItem item;
        item.name = name;
        item.value = value.get<std::string>();
        const Setting* s = findSetting(name);
        if (s == nullptr)
            item.outcome = RestoreItem::Outcome::unknown;
        else if (s->set == nullptr)
            item.outcome = RestoreItem::Outcome::readOnly;
        else if (isFactory(name))
            item.outcome = RestoreItem::Outcome::factory;
        else {
            toWrite.emplace_back(s, std::move(item));
            continue;
        }
        items.push_back(std::move(item));
    }
    const auto table = settingsTable();
    std::stable_sort(toWrite.begin(), toWrite.end(), [&](const auto& a, const auto& b) {
        const int la = lateness(a.first->name), lb = lateness(b.first->name);
        if (la != lb) return la < lb;
        return a.first - table.data() < b.first - table.data();
    });
    for (auto& [s, item] : toWrite) {
        if (beforeEach) beforeEach(item.name);
        try {
            if (s->set(port, item.value, true) != Outcome::ok) {
                const LibraryFailure why = lastLibraryFailure();
                item.outcome = RestoreItem::Outcome::failed;
                item.reason = why.text.empty() ? std::string(s->setName) + " returned -1 without a reason" : why.text;
            } else if (s->get == nullptr || !s->readBack) {
                item.outcome = RestoreItem::Outcome::unchecked;
            } else {
                const Reading back = readSetting(*s, port);
                if (back.outcome != Outcome::ok) {
                    item.outcome = RestoreItem::Outcome::failed;
                    item.reason = "reading it back failed: " + back.failure;
                } else if (holdsValue(back, item.value)) {
                    item.outcome = RestoreItem::Outcome::holds;
                } else {
                    item.outcome = RestoreItem::Outcome::differs;
                    item.held = restorableText(*s, back);
                }
            }
        } catch (const ToolError& e) {  // a value the setting does not take
            item.outcome = RestoreItem::Outcome::failed;
            item.reason = e.what();
        }
        items.push_back(std::move(item));
    }
    return items;
}

const char* outcomeWord(RestoreItem::Outcome outcome) {
    switch (outcome) {
        case RestoreItem::Outcome::holds: return "holds";
        case RestoreItem::Outcome::differs: return "differs";
        case RestoreItem::Outcome::unchecked: return "not read back";
        case RestoreItem::Outcome::failed: return "failed";
        case RestoreItem::Outcome::readOnly: return "read only";
        case RestoreItem::Outcome::factory: return "factory setting, not copied";
        case RestoreItem::Outcome::unknown: return "unknown";
    }
    return "?";
}

}  // namespace nxtka_cli
