#include "value_rows.h"

#include "cli_core.h"

#include <cmath>
#include <ctime>

namespace nxtka_cli {

std::string isoTime(std::int64_t ns) {
    const std::int64_t s = ns >= 0 ? ns / 1'000'000'000 : (ns - 999'999'999) / 1'000'000'000;
    const auto us = static_cast<long>((ns - s * 1'000'000'000) / 1000);
    const std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, ".%06ldZ", us);
    return buf;
}

std::string statusWords(unsigned char status, double value) {
    std::string words;
    if (status != 0) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "status 0x%02X", status);
        words = buf;
    }
    if (std::fabs(value) >= kEndOfScale) words += words.empty() ? "beyond end of scale" : "; beyond end of scale";
    return words.empty() ? "ok" : words;
}

void writeValueRow(std::FILE* f, std::int64_t timeNs, std::int64_t startNs, std::uint64_t sequence, double value,
                   double scaled, const std::string& unit, unsigned char status) {
    std::fprintf(f, "%s,%.6f,%llu,%.8f,%.10g,%s,%s\n", isoTime(timeNs).c_str(),
                 static_cast<double>(timeNs - startNs) / 1e9, static_cast<unsigned long long>(sequence), value, scaled,
                 unit.c_str(), statusWords(status, value).c_str());
}

}  // namespace nxtka_cli
