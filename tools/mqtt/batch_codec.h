// The payload of a values batch on the broker (docs/mqtt.md): a compact
// little-endian binary layout and a JSON one. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nxtka_cli::mqtt {

// Consecutive values of one amplifier: sequence numbers first .. first+n-1.
struct ValueBatch {
    std::uint64_t session = 0;  // the activation's time, ns since 1970
    std::uint64_t first = 0;
    std::vector<std::int64_t> times;  // ns since 1970 UTC
    std::vector<double> values;
    std::vector<std::uint8_t> statuses;

    std::size_t count() const { return values.size(); }
    std::uint64_t end() const { return first + values.size(); }  // one past the last
    bool operator==(const ValueBatch&) const = default;
};

inline constexpr std::uint8_t kBatchLayoutVersion = 1;
inline constexpr std::size_t kBatchHeaderBytes = 24;

// The binary layout; the batch must hold as many times and statuses as
// values, and at least one value.
std::string encodeBinary(const ValueBatch& batch);
// nullopt for a payload of the wrong size or version, or no values.
std::optional<ValueBatch> decodeBinary(std::string_view payload);

// {"format": "nxtka-batch 1", "session":..., "first":..., "count":...,
//  "times":[...], "values":[...], "statuses":[...]}
std::string encodeJson(const ValueBatch& batch);
// nullopt for anything but a complete, consistent document of that format.
std::optional<ValueBatch> decodeJson(std::string_view payload);

// Either layout: JSON when the payload starts with '{'.
std::optional<ValueBatch> decodeAny(std::string_view payload);

}  // namespace nxtka_cli::mqtt
