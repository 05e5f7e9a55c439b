// The rows of a recording's file: one value a line, in the columns `record`
// writes and `subscribe --out` writes again from the broker.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace nxtka_cli {

inline constexpr const char* kValueRowHeader = "time_utc,seconds,sequence,value,scaled_value,unit,status";

// "2026-12-09T23:40:39.123456Z": UTC to the microsecond.
std::string isoTime(std::int64_t ns);

// "ok", or what is not: the status byte, a value beyond the end of scale.
std::string statusWords(unsigned char status, double value);

// One row; `seconds` counts from startNs.
void writeValueRow(std::FILE* f, std::int64_t timeNs, std::int64_t startNs, std::uint64_t sequence, double value,
                   double scaled, const std::string& unit, unsigned char status);

}  // namespace nxtka_cli
