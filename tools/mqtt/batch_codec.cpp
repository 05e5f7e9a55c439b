#include "batch_codec.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cstring>

namespace nxtka_cli::mqtt {
namespace {

template <typename T>
void put(std::string& out, T value) {
    using U = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                 std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint8_t>>;
    const U bits = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(U); ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

template <typename T>
T get(std::string_view in, std::size_t at) {
    using U = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                 std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint8_t>>;
    U bits = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i)
        bits |= static_cast<U>(static_cast<U>(static_cast<unsigned char>(in[at + i])) << (8 * i));
    return std::bit_cast<T>(bits);
}

}  // namespace

std::string encodeBinary(const ValueBatch& b) {
    const std::size_t n = b.values.size();
    std::string out;
    out.reserve(kBatchHeaderBytes + 17 * n);
    put<std::uint8_t>(out, kBatchLayoutVersion);
    out.append(3, '\0');
    put<std::uint32_t>(out, static_cast<std::uint32_t>(n));
    put<std::uint64_t>(out, b.session);
    put<std::uint64_t>(out, b.first);
    for (std::size_t i = 0; i < n; ++i) put<std::int64_t>(out, b.times[i]);
    for (std::size_t i = 0; i < n; ++i) put<double>(out, b.values[i]);
    for (std::size_t i = 0; i < n; ++i) put<std::uint8_t>(out, b.statuses[i]);
    return out;
}

std::optional<ValueBatch> decodeBinary(std::string_view p) {
    if (p.size() < kBatchHeaderBytes || get<std::uint8_t>(p, 0) != kBatchLayoutVersion) return std::nullopt;
    const std::uint64_t n = get<std::uint32_t>(p, 4);
    if (n == 0 || p.size() != kBatchHeaderBytes + 17 * n) return std::nullopt;
    ValueBatch b;
    b.session = get<std::uint64_t>(p, 8);
    b.first = get<std::uint64_t>(p, 16);
    b.times.resize(n);
    b.values.resize(n);
    b.statuses.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        b.times[i] = get<std::int64_t>(p, kBatchHeaderBytes + 8 * i);
        b.values[i] = get<double>(p, kBatchHeaderBytes + 8 * n + 8 * i);
        b.statuses[i] = get<std::uint8_t>(p, kBatchHeaderBytes + 16 * n + i);
    }
    return b;
}

std::string encodeJson(const ValueBatch& b) {
    // Written by hand: nlohmann would print the values with its own precision.
    std::string out = "{\"format\": \"nxtka-batch 1\", \"session\": " + std::to_string(b.session) +
                      ", \"first\": " + std::to_string(b.first) + ", \"count\": " + std::to_string(b.count()) +
                      ", \"times\": [";
    char buf[40];
    for (std::size_t i = 0; i < b.count(); ++i) out += (i ? ", " : "") + std::to_string(b.times[i]);
    out += "], \"values\": [";
    for (std::size_t i = 0; i < b.count(); ++i) {
        std::snprintf(buf, sizeof buf, "%.17g", b.values[i]);
        out += (i ? ", " : "");
        out += buf;
    }
    out += "], \"statuses\": [";
    for (std::size_t i = 0; i < b.count(); ++i) out += (i ? ", " : "") + std::to_string(b.statuses[i]);
    return out + "]}";
}

std::optional<ValueBatch> decodeJson(std::string_view payload) {
    const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
    try {
        if (!j.is_object() || j.value("format", "") != "nxtka-batch 1") return std::nullopt;
        ValueBatch b;
        b.session = j.at("session").get<std::uint64_t>();
        b.first = j.at("first").get<std::uint64_t>();
        b.times = j.at("times").get<std::vector<std::int64_t>>();
        b.values = j.at("values").get<std::vector<double>>();
        b.statuses = j.at("statuses").get<std::vector<std::uint8_t>>();
        const std::size_t n = j.at("count").get<std::size_t>();
        if (n == 0 || b.times.size() != n || b.values.size() != n || b.statuses.size() != n) return std::nullopt;
        return b;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<ValueBatch> decodeAny(std::string_view payload) {
    if (!payload.empty() && payload.front() == '{') return decodeJson(payload);
    return decodeBinary(payload);
}

}  // namespace nxtka_cli::mqtt
