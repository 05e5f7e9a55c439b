#include "gateway_config.h"

#include "cli_core.h"

#include <toml++/toml.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace nxtka_cli::mqtt {
namespace {

std::string where(const toml::node* node) {
    if (!node) return {};
    const auto& src = node->source();
    return " (line " + std::to_string(src.begin.line) + ")";
}

[[noreturn]] void bad(const std::string& file, const std::string& what, const toml::node* node) {
    throw ToolError(file + ": " + what + where(node), kExitUsage);
}

std::string text(const toml::table& t, const char* key, const std::string& section, const std::string& file,
                 const std::string& fallback) {
    const toml::node* n = t.get(key);
    if (!n) return fallback;
    if (!n->is_string()) bad(file, section + "." + key + " must be a string", n);
    return n->value<std::string>().value();
}

std::int64_t integer(const toml::table& t, const char* key, const std::string& section, const std::string& file,
                     std::int64_t fallback, std::int64_t min, std::int64_t max) {
    const toml::node* n = t.get(key);
    if (!n) return fallback;
    if (!n->is_integer()) bad(file, section + "." + key + " must be a whole number", n);
    const std::int64_t v = n->value<std::int64_t>().value();
    if (v < min || v > max)
        bad(file, section + "." + key + " must be " + std::to_string(min) + " to " + std::to_string(max), n);
    return v;
}

std::string relativeTo(const std::filesystem::path& base, const std::string& path) {
    if (path.empty() || path == "-" || std::filesystem::path(path).is_absolute()) return path;
    return (base / path).lexically_normal().string();
}

}  // namespace

bool validName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    return true;
}

GatewayConfig readGatewayConfig(const std::string& file, bool needAmplifiers) {
    toml::table root;
    try {
        root = toml::parse_file(file);
    } catch (const toml::parse_error& e) {
        std::ifstream probe(file);
        if (!probe) throw ToolError(file + ": cannot read the file", kExitUsage);
        throw ToolError(file + ": " + std::string(e.description()) + " (line " +
                            std::to_string(e.source().begin.line) + ")",
                        kExitUsage);
    }
    const std::filesystem::path base = std::filesystem::path(file).parent_path();
    GatewayConfig c;

    const toml::table empty;
    const toml::table* broker = root.get_as<toml::table>("broker");
    if (root.get("broker") && !broker) bad(file, "[broker] must be a table", root.get("broker"));
    const toml::table& b = broker ? *broker : empty;
    c.broker.host = text(b, "host", "broker", file, c.broker.host);
    c.broker.caFile = relativeTo(base, text(b, "ca_file", "broker", file, ""));
    c.broker.certFile = relativeTo(base, text(b, "cert_file", "broker", file, ""));
    c.broker.keyFile = relativeTo(base, text(b, "key_file", "broker", file, ""));
    c.broker.port = static_cast<int>(integer(b, "port", "broker", file, c.broker.caFile.empty() ? 1883 : 8883, 1, 65535));
    char host[256] = "host";
    ::gethostname(host, sizeof host - 1);
    c.broker.clientId = text(b, "client_id", "broker", file, std::string("nxtka-") + host);
    c.broker.prefix = text(b, "prefix", "broker", file, c.broker.prefix);
    c.broker.user = text(b, "user", "broker", file, "");
    c.broker.passwordFile = relativeTo(base, text(b, "password_file", "broker", file, ""));
    c.broker.keepalive = static_cast<int>(integer(b, "keepalive", "broker", file, 30, 5, 3600));
    if (b.get("password")) bad(file, "a password is never written in the list: use broker.password_file", b.get("password"));
    if (c.broker.certFile.empty() != c.broker.keyFile.empty())
        bad(file, "broker.cert_file and broker.key_file go together", b.get(c.broker.certFile.empty() ? "key_file" : "cert_file"));
    if (!c.broker.passwordFile.empty() && c.broker.user.empty())
        bad(file, "broker.password_file needs broker.user", b.get("password_file"));
    if (c.broker.prefix.empty() || c.broker.prefix.find_first_of("#+") != std::string::npos ||
        c.broker.prefix.back() == '/')
        bad(file, "broker.prefix must be a topic without # or + and without a / at the end", b.get("prefix"));

    if (!needAmplifiers) return c;

    const toml::table* publish = root.get_as<toml::table>("publish");
    const toml::table& p = publish ? *publish : empty;
    c.publish.intervalMs = static_cast<int>(integer(p, "interval_ms", "publish", file, c.publish.intervalMs, 1, 60000));
    c.publish.maxValues = static_cast<std::uint32_t>(integer(p, "max_values", "publish", file, c.publish.maxValues, 1, 1000000));
    const std::string format = text(p, "format", "publish", file, "binary");
    if (format == "json") c.publish.format = PayloadFormat::json;
    else if (format != "binary") bad(file, "publish.format must be binary or json", p.get("format"));
    c.publish.spoolDir = relativeTo(base, text(p, "spool_dir", "publish", file, c.publish.spoolDir));
    c.publish.spoolBytes = static_cast<std::uint64_t>(
        integer(p, "spool_bytes", "publish", file, static_cast<std::int64_t>(c.publish.spoolBytes), 1024, 1ll << 40));
    const std::string fsync = text(p, "fsync", "publish", file, "interval");
    if (auto f = fsyncPolicyNamed(fsync)) c.publish.fsync = *f;
    else bad(file, "publish.fsync must be never, batch or interval", p.get("fsync"));
    if (const toml::node* n = p.get("remote_settings")) {
        if (!n->is_boolean()) bad(file, "publish.remote_settings must be true or false", n);
        c.publish.remoteSettings = n->value<bool>().value();
    }

    const toml::array* list = root.get_as<toml::array>("amplifier");
    if (!list || list->empty()) bad(file, "no [[amplifier]] in the list", nullptr);
    std::set<std::string> names;
    std::set<std::uint32_t> ports;
    std::uint32_t position = 0;
    for (const toml::node& node : *list) {
        const toml::table* t = node.as_table();
        if (!t) bad(file, "[[amplifier]] must be a table", &node);
        GatewayAmplifier a;
        const std::string section = "amplifier " + std::to_string(position + 1);
        if (!t->get("name")) bad(file, section + " has no name", &node);
        a.name = text(*t, "name", section, file, "");
        if (!validName(a.name)) bad(file, "amplifier.name \"" + a.name + "\" may hold only A-Z a-z 0-9 _ -", t->get("name"));
        if (!names.insert(a.name).second) bad(file, "amplifier.name \"" + a.name + "\" comes twice", t->get("name"));
        if (!t->get("device")) bad(file, "amplifier \"" + a.name + "\" has no device", &node);
        a.device = text(*t, "device", section, file, "");
        a.port = static_cast<std::uint32_t>(integer(*t, "port", section, file, position, 0, 1023));
        if (!ports.insert(a.port).second)
            bad(file, "amplifier \"" + a.name + "\": port " + std::to_string(a.port) + " is used twice", t->get("port"));
        if (t->get("baud")) a.baud = static_cast<std::int32_t>(integer(*t, "baud", section, file, 38400, 1, 4000000));
        if (const toml::node* s = t->get("settings")) {
            const toml::table* st = s->as_table();
            if (!st) bad(file, "amplifier.settings must be a table", s);
            std::vector<std::uint32_t> lines;
            for (const auto& [key, value] : *st) {
                if (!value.is_string() && !value.is_integer() && !value.is_floating_point() && !value.is_boolean())
                    bad(file, "amplifier.settings." + std::string(key.str()) + " must be a value", &value);
                std::string v;
                if (value.is_string()) v = value.value<std::string>().value();
                else if (value.is_integer()) v = std::to_string(value.value<std::int64_t>().value());
                else if (value.is_boolean()) v = value.value<bool>().value() ? "on" : "off";
                else v = std::to_string(value.value<double>().value());
                a.settings.emplace_back(std::string(key.str()), v);
                lines.push_back(value.source().begin.line);
            }
            // The table keeps its keys sorted; the settings go in file order.
            std::vector<std::size_t> order(lines.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return lines[x] < lines[y]; });
            std::vector<std::pair<std::string, std::string>> sorted;
            for (std::size_t i : order) sorted.push_back(a.settings[i]);
            a.settings = std::move(sorted);
        }
        c.amplifiers.push_back(std::move(a));
        ++position;
    }
    return c;
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError("cannot read the password file " + path, kExitUsage);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace nxtka_cli::mqtt
