#include "amplifier_list.h"

#include "cli_core.h"
#include "settings.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace nxtka_cli {
namespace {

std::string lineOf(const toml::node& node) {
    const auto line = node.source().begin.line;
    return line ? " (line " + std::to_string(line) + ")" : std::string();
}

[[noreturn]] void refuse(const std::string& what, const toml::node& node) {
    throw ToolError(what + lineOf(node), kExitUsage);
}

std::string textOf(const toml::node& node, const std::string& key) {
    if (const auto* s = node.as_string()) return s->get();
    refuse(key + " must be a string in quotes", node);
}

std::int64_t integerOf(const toml::node& node, const std::string& key) {
    if (const auto* i = node.as_integer()) return i->get();
    refuse(key + " must be a whole number", node);
}

// A setting's value as `nxtka set` takes it: text, a number or a switch.
std::string settingText(const toml::node& node, const std::string& key) {
    if (const auto* s = node.as_string()) return s->get();
    if (const auto* i = node.as_integer()) return std::to_string(i->get());
    if (const auto* f = node.as_floating_point()) return formatReal(f->get());
    if (const auto* b = node.as_boolean()) return b->get() ? "on" : "off";
    refuse(key + " must be text, a number or true/false", node);
}

bool usableName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

constexpr std::string_view kEntryKeys[] = {"name", "device", "port", "baud", "unit", "unit_name", "scale", "settings"};

AmplifierEntry entryFrom(const toml::table& t, std::size_t index, std::span<const std::string_view> extraKeys) {
    const std::string where = "amplifier " + std::to_string(index + 1) + ": ";
    for (auto&& [key, value] : t) {
        const std::string_view k = key.str();
        if (std::find(std::begin(kEntryKeys), std::end(kEntryKeys), k) == std::end(kEntryKeys) &&
            std::find(extraKeys.begin(), extraKeys.end(), k) == extraKeys.end())
            refuse(where + "unknown key '" + std::string(k) + "'", value);
    }
    AmplifierEntry e;
    const toml::node* name = t.get("name");
    if (!name) refuse(where + "name is missing", t);
    e.name = textOf(*name, where + "name");
    if (!usableName(e.name))
        refuse(where + "name '" + e.name + "' may only hold letters, digits, '_' and '-'", *name);
    const std::string own = "amplifier '" + e.name + "': ";
    const toml::node* device = t.get("device");
    if (!device) refuse(own + "device is missing", t);
    e.device = textOf(*device, own + "device");
    if (e.device.empty()) refuse(own + "device is empty", *device);
    e.port = static_cast<std::uint32_t>(index);
    if (const toml::node* port = t.get("port")) {
        const std::int64_t p = integerOf(*port, own + "port");
        if (p < 0 || p > 1023) refuse(own + "port " + std::to_string(p) + " is not 0 to 1023", *port);
        e.port = static_cast<std::uint32_t>(p);
    }
    if (const toml::node* baud = t.get("baud")) {
        const std::int64_t b = integerOf(*baud, own + "baud");
        if (b <= 0 || b > 0x7FFFFFFF) refuse(own + "baud " + std::to_string(b) + " is not a positive bit rate", *baud);
        e.baud = static_cast<std::int32_t>(b);
    }
    std::string unit, unitName, scale;
    const toml::node* scaleNode = nullptr;
    if (const toml::node* n = t.get("unit")) unit = textOf(*n, own + "unit"), scaleNode = n;
    if (const toml::node* n = t.get("unit_name")) unitName = textOf(*n, own + "unit_name"), scaleNode = n;
    if (const toml::node* n = t.get("scale")) scale = textOf(*n, own + "scale"), scaleNode = n;
    if (scaleNode) {
        try {
            e.scale = scaleFromOptions(unit, unitName, scale);
        } catch (const ToolError& err) {
            refuse(own + err.what(), *scaleNode);
        }
    }
    if (const toml::node* s = t.get("settings")) {
        const toml::table* settings = s->as_table();
        if (!settings) refuse(own + "settings must be a table ([amplifier.settings])", *s);
        // The table keeps its keys sorted; the file's order is their place.
        std::vector<std::pair<std::string, const toml::node*>> inOrder;
        for (auto&& [key, value] : *settings) inOrder.emplace_back(std::string(key.str()), &value);
        std::stable_sort(inOrder.begin(), inOrder.end(), [](const auto& a, const auto& b) {
            const auto &x = a.second->source().begin, &y = b.second->source().begin;
            return x.line != y.line ? x.line < y.line : x.column < y.column;
        });
        for (const auto& [key, node] : inOrder) {
            const std::string value = settingText(*node, own + "setting " + key);
            const Setting* row = findSetting(key);
            if (!row) refuse(own + "no setting '" + key + "' (nxtka get --list names them)", *node);
            if (!row->set) refuse(own + "setting '" + key + "' is read only", *node);
            try {
                row->set(0, value, false);
            } catch (const ToolError& err) {
                refuse(own + "setting " + key + ": " + err.what(), *node);
            }
            e.settings.emplace_back(key, value);
        }
    }
    return e;
}

}  // namespace

toml::table readAmplifierFile(const std::string& path) {
    try {
        return toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        const auto line = e.source().begin.line;
        throw ToolError(path + (line ? ":" + std::to_string(line) : std::string()) + ": " +
                            std::string(e.description()),
                        kExitUsage);
    }
}

std::vector<AmplifierEntry> amplifiersFrom(const toml::table& file, std::span<const std::string_view> extraKeys) {
    const toml::node* list = file.get("amplifier");
    if (!list) throw ToolError("the file names no amplifier (add [[amplifier]] entries)", kExitUsage);
    const toml::array* entries = list->as_array();
    if (!entries || entries->empty())
        refuse("amplifier must be a list of [[amplifier]] entries", *list);
    std::vector<AmplifierEntry> out;
    std::map<std::string, std::size_t> names;
    std::map<std::uint32_t, std::string> ports;
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const toml::node& node = *entries->get(i);
        const toml::table* t = node.as_table();
        if (!t) refuse("amplifier " + std::to_string(i + 1) + " is not a table ([[amplifier]])", node);
        AmplifierEntry e = entryFrom(*t, i, extraKeys);
        if (names.count(e.name)) refuse("amplifier name '" + e.name + "' is used twice", *t->get("name"));
        if (const auto at = ports.find(e.port); at != ports.end())
            refuse("amplifier '" + e.name + "': port " + std::to_string(e.port) + " is also amplifier '" +
                       at->second + "'s",
                   *t);
        names[e.name] = i;
        ports[e.port] = e.name;
        out.push_back(std::move(e));
    }
    return out;
}

RunSection runSectionFrom(const toml::table& file) {
    RunSection r;
    const toml::node* node = file.get("run");
    if (!node) return r;
    const toml::table* run = node->as_table();
    if (!run) refuse("run must be a table ([run])", *node);
    for (auto&& [key, value] : *run) {
        const std::string k(key.str());
        if (k == "seconds") {
            double s = 0;
            if (const auto* i = value.as_integer())
                s = static_cast<double>(i->get());
            else if (const auto* f = value.as_floating_point())
                s = f->get();
            else
                refuse("run.seconds must be a number", value);
            if (!(std::isfinite(s) && s > 0)) refuse("run.seconds must be above 0", value);
            r.seconds = s;
        } else if (k == "out") {
            r.out = textOf(value, "run.out");
            if (r.out.empty()) refuse("run.out is empty", value);
        } else if (k == "format") {
            r.format = textOf(value, "run.format");
            if (r.format != "csv") refuse("run.format '" + r.format + "': the format is csv", value);
        } else {
            refuse("unknown key 'run." + k + "'", value);
        }
    }
    return r;
}

}  // namespace nxtka_cli
