#include "sim_spec.h"

#include "core/command_table.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace nxtka::sim {
namespace {

std::uint64_t parseNumber(const std::string& text, const char* what) {
    if (text.empty() || text[0] == '-') throw std::invalid_argument(std::string("not a ") + what + ": '" + text + "'");
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0') throw std::invalid_argument(std::string("not a ") + what + ": '" + text + "'");
    return v;
}

std::pair<std::string, std::string> splitAt(const std::string& text, char sep) {
    const auto at = text.find(sep);
    if (at == std::string::npos) throw std::invalid_argument("expected '" + std::string(1, sep) + "' in '" + text + "'");
    return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace

int parseCode(const std::string& text) {
    for (int code = 0; code < 256; ++code) {
        const char* name = commandName(code);
        if (name != nullptr && text == name) return code;
    }
    std::uint64_t v = 0;
    try {
        v = parseNumber(text, "command code or name");
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string(e.what()) + " (nxtka-sim --list-commands lists them)");
    }
    if (v > 255) throw std::invalid_argument("command code above 255: '" + text + "'");
    return static_cast<int>(v);
}

std::string codeText(int code) {
    const char* name = commandName(code);
    return name != nullptr ? std::string(name) : std::to_string(code);
}

std::pair<int, std::uint32_t> parseCodeMs(const std::string& text) {
    const auto [code, ms] = splitAt(text, ':');
    const std::uint64_t v = parseNumber(ms, "number of milliseconds");
    if (v > 600000) throw std::invalid_argument("delay above 600000 ms: '" + text + "'");
    return {parseCode(code), static_cast<std::uint32_t>(v)};
}

std::pair<int, std::uint64_t> parseCodeValue(const std::string& text) {
    const auto [code, value] = splitAt(text, '=');
    return {parseCode(code), parseNumber(value, "value")};
}

std::pair<std::size_t, std::vector<std::uint8_t>> parseMemory(const std::string& text) {
    const auto [address, hex] = splitAt(text, ':');
    if (hex.size() % 2 != 0 || hex.empty()) throw std::invalid_argument("memory bytes need two hex digits each");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        char* end = nullptr;
        const unsigned long b = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || pair[0] == '-' || pair[0] == '+') throw std::invalid_argument("not hex: '" + pair + "'");
        bytes.push_back(static_cast<std::uint8_t>(b));
    }
    return {static_cast<std::size_t>(parseNumber(address, "memory address")), bytes};
}

std::pair<double, double> parseSpan(const std::string& text) {
    const auto [start, length] = splitAt(text, ':');
    char* e1 = nullptr;
    char* e2 = nullptr;
    const double s = std::strtod(start.c_str(), &e1);
    const double l = std::strtod(length.c_str(), &e2);
    if (start.empty() || length.empty() || *e1 != '\0' || *e2 != '\0' || !(s >= 0) || !(l > 0) || s > 1e6 || l > 1e6)
        throw std::invalid_argument("expected START:SECONDS with START >= 0 and SECONDS > 0: '" + text + "'");
    return {s, l};
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(bytes[i]));
        out += two;
    }
    return out;
}

}  // namespace nxtka::sim
