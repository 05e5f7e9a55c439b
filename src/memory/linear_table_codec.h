// Linearization tables in the amplifier's memory: the two layouts, the
// encoding of points, slopes and the extra record into a memory image and
// back. Pure functions; nothing here talks to the amplifier.
#pragma once

#include "nxtka.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace nxtka::linear {

// Error codes (the index of the offending point goes in the low 8 bits).
namespace error {
inline constexpr std::int32_t kNoSupport = 0x400;
inline constexpr std::int32_t kFormat = 0x800;
inline constexpr std::int32_t kTooManyPoints = 0xC00;
inline constexpr std::int32_t kPoint = 0x1000;   // + kX and/or kY
inline constexpr std::int32_t kOrder = 0x1400;   // + kX (x not increasing) and/or kY (y decreasing)
inline constexpr std::int32_t kSlope = 0x1800;
inline constexpr std::int32_t kMarker = 0x1C00;
inline constexpr std::int32_t kShortTransfer = 0x2000;
inline constexpr std::int32_t kMode = 0x2400;
inline constexpr std::int32_t kExtraX = 0x2800;
inline constexpr std::int32_t kExtraY = 0x2C00;
inline constexpr std::int32_t kRefused = 0x3000;
inline constexpr std::int32_t kX = 0x100;
inline constexpr std::int32_t kY = 0x200;
}  // namespace error

inline constexpr std::int32_t kSortFlag = 0x4000;
// Not part of the mode: a write that skips reading its transfers back.
inline constexpr std::int32_t kNoVerifyFlag = 0x8000;
// The count byte holds points - 1: at most 256 points.
inline constexpr std::uint32_t kMostPoints = 256;
// An image that holds 256 points and their slopes in either layout.
inline constexpr std::size_t kImageSize = 2048;
inline constexpr std::uint32_t kExtraAddress = 248;
inline constexpr std::uint32_t kSecondRecordAddress = 252;
inline constexpr std::uint32_t kSecondByteAddress = 246;
inline constexpr std::uint32_t kHeaderBytes = 3;

enum class PointFormat { Pair16, Pair24 };
enum class SlopeFormat { Slope3, Slope4 };

struct Layout {
    int markerCheck = -1;  // -1 not checked, 0 passed, 1 failed
    bool legacy = true;
    std::uint32_t maxPoints = 0;
    std::uint32_t countAddress = 0;
    std::uint32_t pointsAddress = 0;
    std::uint32_t slopesAddress = 0;
    std::uint32_t markerAddress = 0;
    std::uint32_t flagAddress = 0;
    std::uint32_t pointSize = 0;
    std::uint32_t slopeSize = 0;
    std::uint32_t markerLength = 3;
    PointFormat point = PointFormat::Pair16;
    SlopeFormat slope = SlopeFormat::Slope3;
};

Layout legacyLayout();
// The layout a header describes: 0, or kFormat for header byte 0 of 253 or
// 254 or an unknown point or slope format. Header byte 0 of 0 or 255 (no
// tables) is the caller's to refuse first.
std::int32_t headerLayout(const std::uint8_t header[kHeaderBytes], Layout& layout);

// Sorts by x ascending, keeping the order of equal x (exchange sort).
void sortByX(LinearPoint* points, std::size_t n);

// Encodes n points and their slopes into `image` (indexed by memory
// address) and sets the count byte. Mode 0..3: 2 and more skip the point
// limit, 3 accepts a single point and skips order and slopes. 0, or
// the error code plus the index; a slot outside `image` is never written
// (kTooManyPoints).
std::int32_t encodeTable(const Layout& layout, const LinearPoint* points, std::uint32_t n, std::int32_t mode,
                         std::span<std::uint8_t> image);

// Points stored for a count byte c: c + 1, or 0 for c = 0.
inline std::uint32_t storedPoints(std::uint8_t c) { return c == 0 ? 0u : c + 1u; }
// The point at `at` (layout.pointSize bytes).
LinearPoint decodePoint(PointFormat format, const std::uint8_t* at);

// Extra record of the header-described layout: x as a signed byte, y in
// hundredths as a 24-bit sign-and-magnitude number. 0, kExtraX or kExtraY.
std::int32_t encodeExtra(const LinearPoint& record, std::uint8_t out[4]);
LinearPoint decodeExtra(const std::uint8_t in[4]);
// Extra record of the legacy layout: x rounds to 0, y is the negated range
// (-100000 up to below 0). 0, kExtraX or kExtraY; `hundredths` gets
// round(-y x 100).
std::int32_t checkLegacyExtra(const LinearPoint& record, std::int64_t& hundredths);

}  // namespace nxtka::linear
