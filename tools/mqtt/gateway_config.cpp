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

GatewayConfig readGatewayConfig(const std::string& file, bool needAmplifiers) {
    {
        std::ifstream probe(file);
        if (!probe) throw ToolError(file + ": cannot read the file", kExitUsage);
    }
    const toml::table root = readAmplifierFile(file);
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

    c.amplifiers = amplifiersFrom(root);
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
