#include "json_out.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

using nlohmann::json;

json plainOf(const Reading& r) {
    return std::visit(
        [](const auto& v) -> json {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>)
                return nullptr;
            else
                return v;
        },
        r.plain);
}

json readingObject(const Reading& r) {
    json o;
    o["value"] = r.outcome == Outcome::ok ? plainOf(r) : json(nullptr);
    if (!r.unit.empty()) o["unit"] = r.unit;
    if (r.outcome == Outcome::ok) o["text"] = r.text;
    else o["error"] = r.failure;
    return o;
}

json textOrNull(const std::string& s) { return s.empty() ? json(nullptr) : json(s); }

}  // namespace

std::string readingJson(const std::string& name, const Reading& reading) {
    json o = readingObject(reading);
    o["setting"] = name;
    return o.dump();
}

std::string infoJson(const std::string& device, std::uint32_t port, const std::string& library,
                     const std::vector<std::pair<std::string, Reading>>& readings) {
    json o;
    o["device"] = device;
    o["port"] = port;
    o["library"] = library;
    json settings = json::object();
    for (const auto& [name, r] : readings) settings[name] = readingObject(r);
    o["settings"] = settings;
    return o.dump(2);
}

std::string listJson() {
    json rows = json::array();
    for (const Setting& s : settingsTable()) {
        rows.push_back({{"name", s.name},
                        {"get", s.getName != nullptr ? json(s.getName) : json(nullptr)},
                        {"set", s.setName != nullptr ? json(s.setName) : json(nullptr)},
                        {"unit", s.unit},
                        {"range", s.range},
                        {"meaning", s.help}});
    }
    return rows.dump(2);
}

std::string portsJson(const std::vector<PortInfo>& ports) {
    json rows = json::array();
    for (const PortInfo& p : ports)
        rows.push_back({{"device", p.device},
                        {"by_id", textOrNull(p.byId)},
                        {"transport", p.transport},
                        {"usb_id", textOrNull(p.usbId)},
                        {"serial", textOrNull(p.serial)},
                        {"description", textOrNull(p.description)},
                        {"holder", textOrNull(p.holder)}});
    return rows.dump(2);
}

std::string summaryJson(const std::string& device, const StreamResult& result, const std::string& csvPath,
                        std::uint64_t csvRows) {
    const StreamStats& s = result.stats;
    json o;
    o["device"] = device;
    o["values"] = s.count();
    o["seconds"] = result.elapsedS;
    o["rate"] = s.overallRate();
    o["min"] = s.count() ? json(s.min()) : json(nullptr);
    o["max"] = s.count() ? json(s.max()) : json(nullptr);
    o["mean"] = s.count() ? json(s.mean()) : json(nullptr);
    json statuses = json::object();
    for (const auto& [status, n] : s.statuses()) {
        char key[8];
        std::snprintf(key, sizeof key, "0x%02X", static_cast<unsigned>(status));
        statuses[key] = n;
    }
    o["statuses"] = statuses;
    o["interrupted"] = result.interrupted;
    o["csv"] = textOrNull(csvPath);
    o["csv_rows"] = csvRows;
    return o.dump(2);
}

}  // namespace nxtka_cli
