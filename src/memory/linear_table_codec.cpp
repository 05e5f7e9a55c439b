#include "memory/linear_table_codec.h"

#include "core/codecs.h"

#include <cmath>
#include <utility>

namespace nxtka::linear {
namespace {

struct RawPoint {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
};

std::uint32_t pointBytes(PointFormat f) { return f == PointFormat::Pair16 ? 4 : 6; }
std::uint32_t slopeBytes(SlopeFormat f) { return f == SlopeFormat::Slope3 ? 3 : 4; }

// 0, or kPoint plus kX and/or kY.
std::int32_t encodePoint(PointFormat f, const LinearPoint& p, RawPoint& raw) {
    const auto encode = f == PointFormat::Pair16 ? codec::linearPoint16 : codec::linearPoint24;
    const codec::Raw x = encode(p.x);
    const codec::Raw y = encode(p.y);
    const std::int32_t bad = (x ? 0 : error::kX) | (y ? 0 : error::kY);
    if (bad != 0) return error::kPoint | bad;
    raw = {*x, *y};
    return 0;
}

void putBigEndian(std::uint8_t* at, std::uint32_t value, std::uint32_t bytes) {
    for (std::uint32_t i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

std::uint32_t getBigEndian(const std::uint8_t* at, std::uint32_t bytes) {
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) v = (v << 8) | at[i];
    return v;
}

// `bytes` at `address` lie inside the image.
bool fits(std::span<std::uint8_t> image, std::uint64_t address, std::uint64_t bytes) {
    return address + bytes <= image.size();
}

}  // namespace

Layout legacyLayout() {
    Layout l;
    l.legacy = true;
    l.maxPoints = 18;
    l.countAddress = 72;
    l.pointsAddress = 0;
    l.slopesAddress = 256;
    l.markerAddress = 253;
    l.flagAddress = 248;
    l.pointSize = 4;
    l.slopeSize = 4;  // 3 bytes written in each 4-byte slot
    l.point = PointFormat::Pair16;
    l.slope = SlopeFormat::Slope3;
    return l;
}

std::int32_t headerLayout(const std::uint8_t header[kHeaderBytes], Layout& layout) {
    if (header[0] == 253 || header[0] == 254) return error::kFormat;
    Layout l;
    l.legacy = false;
    switch (header[1]) {
    case 2: l.slope = SlopeFormat::Slope3; break;
    case 3: l.slope = SlopeFormat::Slope4; break;
    default: return error::kFormat;
    }
    switch (header[2]) {
    case 3: l.point = PointFormat::Pair16; break;
    case 5: l.point = PointFormat::Pair24; break;
    default: return error::kFormat;
    }
    l.slopeSize = (header[1] & 0x0Fu) + 1;
    l.pointSize = (header[2] & 0x0Fu) + 1;
    l.maxPoints = std::min({242 / l.slopeSize + 1, header[0] + 1u, 256 / l.pointSize});
    l.countAddress = 3;
    l.pointsAddress = 256;
    l.slopesAddress = 4;
    l.markerAddress = 0;
    l.flagAddress = 247;
    layout = l;
    return 0;
}

void sortByX(LinearPoint* points, std::size_t n) {
    for (bool swapped = n > 1; swapped;) {
        swapped = false;
        for (std::size_t i = 1; i < n; ++i) {
            if (points[i - 1].x > points[i].x) {
                std::swap(points[i - 1], points[i]);
                swapped = true;
            }
        }
    }
}

std::int32_t encodeTable(const Layout& layout, const LinearPoint* points, std::uint32_t n, std::int32_t mode,
                         std::span<std::uint8_t> image) {
    if (n > kMostPoints || (n > layout.maxPoints && mode <= 1) || (n == 1 && mode <= 2))
        return error::kTooManyPoints;
    if (!fits(image, layout.countAddress, 1)) return error::kTooManyPoints;
    const std::uint32_t pointSize = pointBytes(layout.point);
    const std::uint32_t slopeSize = slopeBytes(layout.slope);
    RawPoint previous;
    for (std::uint32_t i = 0; i < n; ++i) {
        RawPoint raw;
        if (const std::int32_t code = encodePoint(layout.point, points[i], raw); code != 0)
            return code + static_cast<std::int32_t>(i);
        const std::uint64_t at = layout.pointsAddress + std::uint64_t{i} * layout.pointSize;
        if (!fits(image, at, pointSize)) return error::kTooManyPoints;
        putBigEndian(image.data() + at, raw.x, pointSize / 2);
        putBigEndian(image.data() + at + pointSize / 2, raw.y, pointSize / 2);
        if (i >= 1 && mode <= 2) {
            const std::int32_t order = (raw.x > previous.x ? 0 : error::kX) | (raw.y >= previous.y ? 0 : error::kY);
            const auto index = static_cast<std::int32_t>(i - 1);
            if (order != 0) return error::kOrder + order + index;
            const codec::Raw slope = layout.slope == SlopeFormat::Slope3
                                         ? codec::linearSlope3(previous.x, previous.y, raw.x, raw.y)
                                         : codec::linearSlope4(previous.x, previous.y, raw.x, raw.y);
            if (!slope) return error::kSlope + index;
            const std::uint64_t slot = layout.slopesAddress + std::uint64_t{i - 1} * layout.slopeSize;
            if (!fits(image, slot, slopeSize)) return error::kTooManyPoints;
            putBigEndian(image.data() + slot, *slope, slopeSize);
        }
        previous = raw;
    }
    image[layout.countAddress] = static_cast<std::uint8_t>(n == 0 ? 0 : n - 1);
    return 0;
}

LinearPoint decodePoint(PointFormat format, const std::uint8_t* at) {
    if (format == PointFormat::Pair16)
        return {codec::fromLinearPoint16(getBigEndian(at, 2)), codec::fromLinearPoint16(getBigEndian(at + 2, 2))};
    return {codec::fromLinearPoint24(getBigEndian(at, 3)), codec::fromLinearPoint24(getBigEndian(at + 3, 3))};
}

std::int32_t encodeExtra(const LinearPoint& record, std::uint8_t out[4]) {
    const codec::Raw x = codec::linearRecordByte(record.x);
    if (!x) return error::kExtraX;
    const codec::Raw y = codec::signMagnitudeHundredths(record.y);
    if (!y) return error::kExtraY;
    out[0] = static_cast<std::uint8_t>(*x);
    putBigEndian(out + 1, *y, 3);
    return 0;
}

LinearPoint decodeExtra(const std::uint8_t in[4]) {
    return {static_cast<double>(static_cast<std::int8_t>(in[0])),
            codec::fromSignMagnitudeHundredths(getBigEndian(in + 1, 3))};
}

std::int32_t checkLegacyExtra(const LinearPoint& record, std::int64_t& hundredths) {
    if (!(record.x >= -1.0 && record.x <= 1.0) || codec::roundHalfAway(record.x) != 0.0) return error::kExtraX;
    if (!(record.y < 0.0 && record.y >= -100000.0)) return error::kExtraY;
    const double d = codec::roundHalfAway(-record.y * 100.0);
    if (!(d >= 1.0 && d <= 8388607.0)) return error::kExtraY;
    hundredths = static_cast<std::int64_t>(d);
    return 0;
}

}  // namespace nxtka::linear
