#include "cli_core.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace nxtka_cli {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void appendHexWord(std::string_view word, std::vector<std::uint8_t>& out) {
    std::string_view digits = word;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
    if (digits.empty()) throw ToolError("'" + std::string(word) + "' has no hex digits", kExitUsage);
    for (char c : digits)
        if (hexDigit(c) < 0) throw ToolError("'" + std::string(word) + "' is not a hex byte sequence", kExitUsage);
    if (digits.size() == 1) {
        out.push_back(static_cast<std::uint8_t>(hexDigit(digits[0])));
        return;
    }
    if (digits.size() % 2 != 0)
        throw ToolError("'" + std::string(word) + "' has an odd number of hex digits (write 0" +
                        std::string(1, digits[0]) + " for a single leading digit)",
                        kExitUsage);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
}

// Reads a number that must fill the whole text.
bool wholeInteger(std::string_view text, std::int64_t& value) {
    std::string s(text);
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const long long v = std::strtoll(s.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == s.c_str() || *end != '\0') return false;
    value = v;
    return true;
}

}  // namespace

std::vector<std::uint8_t> parseHexBytes(const std::vector<std::string>& words) {
    std::vector<std::uint8_t> out;
    for (const std::string& w : words) {
        std::size_t i = 0;
        while (i < w.size()) {
            while (i < w.size() && (w[i] == ' ' || w[i] == ',' || w[i] == '\t')) ++i;
            std::size_t j = i;
            while (j < w.size() && w[j] != ' ' && w[j] != ',' && w[j] != '\t') ++j;
            if (j > i) appendHexWord(std::string_view(w).substr(i, j - i), out);
            i = j;
        }
    }
    if (out.empty()) throw ToolError("no bytes given (write them in hex, e.g. 2a 03)", kExitUsage);
    return out;
}

std::string formatHex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(bytes[i]));
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::int64_t parseInteger(std::string_view text, std::int64_t min, std::int64_t max) {
    std::int64_t v = 0;
    if (!wholeInteger(text, v)) throw ToolError("'" + std::string(text) + "' is not a whole number", kExitUsage);
    if (v < min || v > max)
        throw ToolError("'" + std::string(text) + "' is out of range (" + std::to_string(min) + " to " +
                        std::to_string(max) + ")",
                        kExitUsage);
    return v;
}

double parseNumber(std::string_view text) {
    std::string s(text);
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || errno != 0 || end == s.c_str() || *end != '\0' || !std::isfinite(v))
        throw ToolError("'" + s + "' is not a number", kExitUsage);
    return v;
}

bool parseSwitch(std::string_view text) {
    const std::string s = lower(text);
    if (s == "on" || s == "1" || s == "true" || s == "yes") return true;
    if (s == "off" || s == "0" || s == "false" || s == "no") return false;
    throw ToolError("'" + std::string(text) + "' is not on or off", kExitUsage);
}

std::string formatLibraryVersion(std::int32_t version, std::int32_t revision) {
    if (version < 0 || revision < 0) return "unknown";
    const auto v = static_cast<std::uint32_t>(version), r = static_cast<std::uint32_t>(revision);
    return std::to_string(v >> 16) + "." + std::to_string(v & 0xFFFF) + "." + std::to_string(r >> 16) + "." +
           std::to_string(r & 0xFFFF);
}

std::string formatFirmware(std::int64_t version) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld (0x%04llX)", static_cast<long long>(version),
                  static_cast<unsigned long long>(version));
    return buf;
}

namespace {

std::string joinFlags(std::int64_t word, int hexDigits, const std::vector<std::string>& parts) {
    char head[48];
    std::snprintf(head, sizeof head, "%lld (0x%0*llX)", static_cast<long long>(word), hexDigits,
                  static_cast<unsigned long long>(word));
    std::string out = head;
    out += ": ";
    if (parts.empty()) return out + "none";
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + parts[i];
    return out;
}

}  // namespace

std::string decodeOptions(std::int64_t word) {
    static const char* const kBits[] = {"extension 3", "linearization", "extension 21", "sleep mode", "command test"};
    std::vector<std::string> parts;
    parts.push_back("code " + std::to_string(word & 0x3F));
    for (int bit = 6; bit <= 10; ++bit)
        if ((word >> bit) & 1) parts.push_back(kBits[bit - 6]);
    const std::int64_t rest = (word >> 11) & 0x1FFF;
    if (rest != 0) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "bits 11-23: 0x%04llX", static_cast<unsigned long long>(rest));
        parts.push_back(buf);
    }
    return joinFlags(word, 6, parts);
}

std::string decodeEquipment(std::int64_t word) {
    static const char* const kBits[] = {"LCD", "ADC", "UII", "SI", "WL", "AF", "bit 6", "bit 7"};
    std::vector<std::string> parts;
    for (int bit = 0; bit < 8; ++bit)
        if ((word >> bit) & 1) parts.push_back(kBits[bit]);
    return joinFlags(word, 2, parts);
}

std::string decodeControl(std::int64_t word) {
    const auto bits = [word](int shift, int width) { return (word >> shift) & ((std::int64_t{1} << width) - 1); };
    std::vector<std::string> parts;
    parts.push_back("gain " + std::to_string(bits(18, 3)));
    parts.push_back(bits(12, 1) != 0 ? "unipolar" : "bipolar");
    parts.push_back("channel " + std::to_string(bits(17, 1)));
    parts.push_back("divisor " + std::to_string(bits(0, 11)));
    const std::int64_t other = word & 0xE1E800;  // bits 11, 13-16, 21-23
    if (other != 0) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "other bits 0x%06llX", static_cast<unsigned long long>(other));
        parts.push_back(buf);
    }
    return joinFlags(word, 6, parts);
}

std::string decodeMode(std::int64_t mode) {
    static const char* const kBits[] = {"SI", "text", "max", "log", "window", "average", "linear", "lock"};
    std::vector<std::string> parts;
    for (int bit = 0; bit < 8; ++bit)
        if ((mode >> bit) & 1) parts.push_back(kBits[bit]);
    return joinFlags(mode, 2, parts);
}

std::string decodeTxMode(std::int64_t mode) {
    static const char* const kBits[] = {"config", "transmit4", "repeat3", "transmit5", "read-only", "bit 5", "bit 6", "bit 7"};
    std::vector<std::string> parts;
    for (int bit = 0; bit < 8; ++bit)
        if ((mode >> bit) & 1) parts.push_back(kBits[bit]);
    return joinFlags(mode, 2, parts);
}

std::string decodeSpecialMode(std::int64_t word) {
    static const char* const kNamed[] = {"slow", "average", "filter", "max", "filter auto", "filter order 5", "sleep"};
    std::vector<std::string> parts;
    for (int bit = 0; bit < 16; ++bit) {
        if (((word >> bit) & 1) == 0) continue;
        if (bit < 7) parts.push_back(kNamed[bit]);
        else if (bit == 14) parts.push_back("auto-zero");
        else if (bit == 15) parts.push_back("noise cut");
        else parts.push_back("bit " + std::to_string(bit));
    }
    return joinFlags(word, 4, parts);
}

std::string formatPolarity(std::int64_t bipolar) { return bipolar != 0 ? "bipolar" : "unipolar"; }

std::string formatOnOff(std::int64_t flag) { return flag != 0 ? "on" : "off"; }

std::string printableText(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            out += c;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(u));
            out += buf;
        }
    }
    return out;
}

std::string renderBar(double value, int width, bool utf8) {
    if (width < 3) width = 3;
    if (width % 2 == 0) ++width;
    const int half = width / 2;
    const char* fill = utf8 ? "\u2588" : "#";
    const char* empty = utf8 ? "\u00B7" : "-";
    const char* centre = utf8 ? "\u2502" : "|";
    int cells = 0;
    bool beyond = false;
    if (std::isfinite(value)) {
        const double frac = std::fabs(value) / kEndOfScale;
        beyond = frac > 1.0;
        cells = static_cast<int>(std::lround(std::min(frac, 1.0) * half));
    }
    const bool negative = value < 0;
    std::string out = "[";
    for (int i = 0; i < width; ++i) {
        const int offset = i - half;  // -half..half
        if (offset == 0) {
            out += centre;
        } else if (beyond && negative && i == 0) {
            out += '<';
        } else if (beyond && !negative && i == width - 1) {
            out += '>';
        } else if ((negative && offset < 0 && -offset <= cells) || (!negative && offset > 0 && offset <= cells)) {
            out += fill;
        } else {
            out += empty;
        }
    }
    out += "]";
    return out;
}

std::string renderSparkline(const std::vector<double>& values, bool utf8) {
    static const char* const kUtf8[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                        "\u2585", "\u2586", "\u2587", "\u2588"};
    static const char kAscii[] = "_.-:=+*#";
    if (values.empty()) return {};
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double low = *lo, span = *hi - *lo;
    std::string out;
    for (double v : values) {
        int level = 3;
        if (span > 0) level = std::clamp(static_cast<int>(std::floor((v - low) / span * 8.0)), 0, 7);
        if (utf8)
            out += kUtf8[level];
        else
            out += kAscii[level];
    }
    return out;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

void StreamStats::add(double timeS, double value, std::uint8_t status) {
    if (count_ == 0) {
        min_ = max_ = value;
        first_ = timeS;
    } else {
        min_ = std::min(min_, value);
        max_ = std::max(max_, value);
    }
    ++count_;
    sum_ += value;
    last_ = timeS;
    ++statuses_[status];
    times_.push_back(timeS);
    while (!times_.empty() && times_.front() < timeS - 1.0) times_.pop_front();
    values_.push_back(value);
    if (values_.size() > kKeep) values_.pop_front();
}

double StreamStats::recentRate(double nowS) const {
    if (count_ == 0) return 0.0;
    // Until a second has passed since the first value, the window is shorter.
    const double window = std::min(1.0, std::max(nowS - first_, 1e-3));
    std::size_t n = 0;
    for (auto it = times_.rbegin(); it != times_.rend() && *it >= nowS - window; ++it) ++n;
    return static_cast<double>(n) / window;
}

double StreamStats::overallRate() const {
    if (count_ < 2 || last_ <= first_) return 0.0;
    return static_cast<double>(count_ - 1) / (last_ - first_);
}

std::vector<double> StreamStats::recent(std::size_t n) const {
    const std::size_t take = std::min(n, values_.size());
    return std::vector<double>(values_.end() - static_cast<std::ptrdiff_t>(take), values_.end());
}

std::string formatCsvRow(std::uint64_t sample, double readTimeS, double value, std::uint8_t status) {
    char buf[100];
    std::snprintf(buf, sizeof buf, "%llu,%.6f,%.8f,%u", static_cast<unsigned long long>(sample), readTimeS, value,
                  static_cast<unsigned>(status));
    return buf;
}

}  // namespace nxtka_cli
