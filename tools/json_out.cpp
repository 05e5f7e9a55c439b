#include "json_out.h"

#include "units.h"

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
    if (r.outcome == Outcome::ok)
        o["text"] = r.text;
    else
        o["error"] = r.failure;
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
                        std::uint64_t csvRows, const Scale* scale) {
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
    if (scale != nullptr)
        o["scale"] = {{"unit", scale->unit}, {"factor", scale->factor}, {"offset", scale->offset},
                      {"source", scale->source}};
    return o.dump(2);
}

std::string setJson(const std::string& name, const std::string& asked, const Reading* back, bool holds) {
    json o;
    o["setting"] = name;
    o["set"] = asked;
    const bool read = back != nullptr && back->outcome == Outcome::ok;
    o["value"] = read ? plainOf(*back) : json(nullptr);
    if (back != nullptr && !back->unit.empty()) o["unit"] = back->unit;
    o["text"] = read ? json(back->text) : json(nullptr);
    o["holds"] = read ? json(holds) : json(nullptr);
    return o.dump();
}

std::string adjustJson(const std::string& procedure, bool cameBack, double seconds) {
    return json{{"procedure", procedure}, {"came_back", cameBack}, {"seconds", seconds}}.dump();
}

std::string rangesJson(const std::vector<RangeEntry>& entries) {
    json rows = json::array();
    for (const RangeEntry& e : entries)
        rows.push_back({{"first", e.first}, {"second", e.second}, {"status", e.status}, {"value", e.value}});
    return rows.dump(2);
}

std::string memoryJson(std::uint32_t from, const std::vector<std::uint8_t>& bytes) {
    return json{{"from", from}, {"bytes", bytes}}.dump();
}

std::string memoryCheckJson(std::uint32_t from, std::int32_t count, const std::vector<FaultyByte>& faulty) {
    json rows = json::array();
    for (const FaultyByte& f : faulty)
        rows.push_back({{"address", f.address}, {"status", f.status}, {"meaning", f.meaning}});
    return json{{"from", from}, {"count", count}, {"faulty", rows}}.dump(2);
}

std::string memoryWriteJson(std::uint32_t from, std::size_t written) {
    return json{{"from", from}, {"written", written}}.dump();
}

std::string linearTableJson(const std::string& table, const std::vector<LinearPoint>& points, LinearPoint extra) {
    json rows = json::array();
    for (const LinearPoint& p : points) rows.push_back({p.x, p.y});
    return json{{"table", textOrNull(table)}, {"points", rows}, {"extra", {extra.x, extra.y}}}.dump(2);
}

std::string linearWriteJson(const std::string& action, std::int32_t points, bool written) {
    return json{{"action", action}, {"points", points}, {"written", written}}.dump();
}

std::string sendJson(const std::string& device, const std::vector<std::uint8_t>& sent,
                     const std::vector<std::uint8_t>* received, std::int64_t waitMs) {
    json o{{"device", device}, {"sent", sent}};
    if (received != nullptr) {
        o["received"] = *received;
        o["wait_ms"] = waitMs;
    }
    return o.dump();
}

}  // namespace nxtka_cli
