// The table encoder: memory images of both layouts, the error codes with
// their indexes, the extra record, and the memory status and settling codes.
#include "core/codecs.h"
#include "memory/linear_table_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace nxtka::linear {
namespace {

// 1.05 x 2^-15 and 1.05 x 2^-23: one raw step of the 16- and 24-bit pairs.
constexpr double kStep16 = 3.204345703125e-5;

std::array<std::uint8_t, kImageSize> emptyImage() { return {}; }

Layout described(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    const std::uint8_t header[3] = {b0, b1, b2};
    Layout l;
    EXPECT_EQ(headerLayout(header, l), 0);
    return l;
}

TEST(LinearTableCodec, LegacyImageHoldsPointsSlopesInFourByteSlotsAndCount) {
    // 0 -> 0x8000; 0.5 / step = 15603.81 -> 48372 = 0xBCF4; 1.0 -> 63975.62 -> 0xF9E8.
    const LinearPoint pts[] = {{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}};
    auto image = emptyImage();
    image[259] = 0x77;  // the fourth byte of a slope slot is left alone
    ASSERT_EQ(encodeTable(legacyLayout(), pts, 3, 0, image), 0);
    const std::vector<std::uint8_t> points(image.begin(), image.begin() + 12);
    EXPECT_EQ(points, (std::vector<std::uint8_t>{0x80, 0, 0x80, 0, 0xBC, 0xF4, 0xBC, 0xF4, 0xF9, 0xE8, 0xF9, 0xE8}));
    // slope 1 in both intervals: 2^18 = 0x040000
    const std::vector<std::uint8_t> slopes(image.begin() + 256, image.begin() + 264);
    EXPECT_EQ(slopes, (std::vector<std::uint8_t>{0x04, 0, 0, 0x77, 0x04, 0, 0, 0}));
    EXPECT_EQ(image[72], 2);
}

TEST(LinearTableCodec, DescribedLayoutWith24BitPairsAndFourByteSlopes) {
    const Layout l = described(20, 3, 5);
    EXPECT_EQ(l.pointSize, 6u);
    EXPECT_EQ(l.slopeSize, 4u);
    EXPECT_EQ(l.maxPoints, 21u);  // min(242 / 4 + 1, 20 + 1, 256 / 6)
    // 0.5 -> 8388608 + 3994575.24 = 0xBCF3CF; 0.25 -> 8388608 + 1997287.62 = 0x9E79E8;
    // slope 1997288 / 3994575 x 2^26 = 33554440.4 -> 0x02000008
    const LinearPoint pts[] = {{0.0, 0.0}, {0.5, 0.25}};
    auto image = emptyImage();
    ASSERT_EQ(encodeTable(l, pts, 2, 0, image), 0);
    const std::vector<std::uint8_t> points(image.begin() + 256, image.begin() + 268);
    EXPECT_EQ(points, (std::vector<std::uint8_t>{0x80, 0, 0, 0x80, 0, 0, 0xBC, 0xF3, 0xCF, 0x9E, 0x79, 0xE8}));
    const std::vector<std::uint8_t> slope(image.begin() + 4, image.begin() + 8);
    EXPECT_EQ(slope, (std::vector<std::uint8_t>{0x02, 0, 0, 0x08}));
    EXPECT_EQ(image[3], 1);
    const LinearPoint back = decodePoint(PointFormat::Pair24, image.data() + 262);
    EXPECT_NEAR(back.x, 0.5, 1.3e-7);
    EXPECT_NEAR(back.y, 0.25, 1.3e-7);
}

TEST(LinearTableCodec, HeaderBytesChooseFormatsAndBound) {
    struct Row {
        std::uint8_t b0, b1, b2;
        std::int32_t code;
        std::uint32_t maxPoints;
    };
    const Row rows[] = {
        {100, 2, 3, 0, 64},  // min(242 / 3 + 1 = 81, 101, 256 / 4 = 64)
        {10, 2, 3, 0, 11},   {253, 2, 3, error::kFormat, 0}, {254, 2, 3, error::kFormat, 0},
        {20, 4, 3, error::kFormat, 0}, {20, 2, 4, error::kFormat, 0},
    };
    for (const Row& r : rows) {
        const std::uint8_t header[3] = {r.b0, r.b1, r.b2};
        Layout l;
        EXPECT_EQ(headerLayout(header, l), r.code) << int(r.b0) << "," << int(r.b1) << "," << int(r.b2);
        if (r.code == 0) {
            EXPECT_EQ(l.maxPoints, r.maxPoints);
        }
    }
}

TEST(LinearTableCodec, ErrorsCarryTheirIndex) {
    const Layout legacy = legacyLayout();
    struct Row {
        const char* what;
        std::vector<LinearPoint> pts;
        std::int32_t mode;
        std::int32_t code;
    };
    const Row rows[] = {
        // 1.2 / step + 32768 = 70217 > 65536
        {"y unencodable", {{0, 0}, {0.5, 1.2}}, 0, 0x1201},
        {"x unencodable", {{-1.2, 0}, {0.5, 0.5}}, 0, 0x1100},
        {"both", {{0, 0}, {0.1, 0.1}, {2, -2}}, 3, 0x1302},
        {"descending x, y rising with x", {{0.5, 0.5}, {0.25, 0.25}, {0, 0}}, 0, 0x1700},
        {"x repeated", {{0, 0}, {0.25, 0.25}, {0.25, 0.5}}, 0, 0x1501},
        {"y falling", {{0, 0.5}, {0.25, 0.25}}, 2, 0x1600},
        {"unsorted accepted by mode 3", {{0.5, 0.5}, {0.25, 0.25}, {0, 0}}, 3, 0},
        // raw x difference 1, raw y difference 20: slope 20 > 16.5
        {"steep", {{0, 0}, {kStep16, 20 * kStep16}}, 0, 0x1800},
        {"single point", {{0, 0}}, 2, error::kTooManyPoints},
        {"single point checked by mode 3", {{0, 0}}, 3, 0},
        {"nineteen points", std::vector<LinearPoint>(19, LinearPoint{0, 0}), 1, error::kTooManyPoints},
    };
    for (const Row& r : rows) {
        auto image = emptyImage();
        EXPECT_EQ(encodeTable(legacy, r.pts.data(), static_cast<std::uint32_t>(r.pts.size()), r.mode, image), r.code)
            << r.what;
    }
}

TEST(LinearTableCodec, CountsBeyondTheCountByteAreRefusedAndNothingLeavesTheImage) {
    std::vector<LinearPoint> pts(257);
    for (std::size_t i = 0; i < pts.size(); ++i) pts[i] = {-1.0 + 0.007 * static_cast<double>(i), 0.0};
    for (const Layout& l : {legacyLayout(), described(255 - 3, 3, 5)}) {
        auto image = emptyImage();
        EXPECT_EQ(encodeTable(l, pts.data(), 257, 3, image), error::kTooManyPoints);
        EXPECT_EQ(encodeTable(l, pts.data(), 256, 2, image), 0);  // 256 points and slopes fit the image
        EXPECT_EQ(image[l.countAddress], 255);
        // Into a span of 1024 bytes the slots past it are refused, unwritten.
        auto big = emptyImage();
        big.fill(0x5A);
        EXPECT_EQ(encodeTable(l, pts.data(), 256, 2, std::span<std::uint8_t>(big.data(), 1024)),
                  error::kTooManyPoints);
        for (std::size_t a = 1024; a < big.size(); ++a) ASSERT_EQ(big[a], 0x5A) << a;
    }
    // The last point's index fits below the code bits: 0x1100 + 255.
    pts[255].x = 5.0;
    auto image = emptyImage();
    EXPECT_EQ(encodeTable(legacyLayout(), pts.data(), 256, 3, image), 0x11FF);
}

TEST(LinearTableCodec, EmptyTableSetsOnlyTheCountByte) {
    auto image = emptyImage();
    image.fill(0x11);
    EXPECT_EQ(encodeTable(legacyLayout(), nullptr, 0, 0, image), 0);
    EXPECT_EQ(image[72], 0);
    EXPECT_EQ(image[0], 0x11);
    EXPECT_EQ(image[256], 0x11);
}

TEST(LinearTableCodec, ExtraRecords) {
    std::uint8_t out[4] = {};
    // x -3 -> 0xFD; y -2.5 -> 250 hundredths, negative: 0x8000FA
    ASSERT_EQ(encodeExtra({-3.0, -2.5}, out), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{0xFD, 0x80, 0x00, 0xFA}));
    const LinearPoint back = decodeExtra(out);
    EXPECT_EQ(back.x, -3.0);
    EXPECT_EQ(back.y, -2.5);
    EXPECT_EQ(encodeExtra({127.4, 1.0}, out), 0);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(encodeExtra({127.5, 1.0}, out), error::kExtraX);
    EXPECT_EQ(encodeExtra({-129.5, 1.0}, out), error::kExtraX);
    EXPECT_EQ(encodeExtra({0.0, 0.004}, out), error::kExtraY);      // rounds to 0 hundredths
    EXPECT_EQ(encodeExtra({0.0, 100000.0}, out), error::kExtraY);   // 10000000 > 0x7FFFFF
    EXPECT_EQ(encodeExtra({0.0, -100000.5}, out), error::kExtraY);

    std::int64_t h = 0;
    EXPECT_EQ(checkLegacyExtra({0.4, -2.5}, h), 0);
    EXPECT_EQ(h, 250);
    EXPECT_EQ(checkLegacyExtra({0.5, -2.5}, h), error::kExtraX);  // rounds to 1
    EXPECT_EQ(checkLegacyExtra({-1.2, -2.5}, h), error::kExtraX);
    EXPECT_EQ(checkLegacyExtra({0.0, 0.0}, h), error::kExtraY);
    EXPECT_EQ(checkLegacyExtra({0.0, 2.0}, h), error::kExtraY);
    EXPECT_EQ(checkLegacyExtra({0.0, -0.004}, h), error::kExtraY);
}

TEST(LinearTableCodec, SortKeepsTheOrderOfEqualX) {
    LinearPoint pts[] = {{3, 1}, {1, 2}, {3, 3}, {2, 4}, {9, 5}};
    sortByX(pts, 4);  // the fifth stays out of it
    const double ys[] = {2, 4, 1, 3, 5};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(pts[i].y, ys[i]) << i;
}

TEST(MemoryCodes, StatusBytesAndSettlingTimes) {
    struct Row {
        std::uint32_t s;
        bool ok;
        std::int32_t code;
    };
    for (const Row r : {Row{0xA3, true, 3}, Row{0xA0, true, 0}, Row{0xAF, true, 15}, Row{0x52, false, 18},
                        Row{0x5F, false, 31}, Row{0x33, false, 16}, Row{0x00, false, 16}}) {
        const codec::MemoryStatus m = codec::memoryStatus(r.s);
        EXPECT_EQ(m.ok, r.ok) << r.s;
        EXPECT_EQ(m.code, r.code) << r.s;
    }
    EXPECT_DOUBLE_EQ(codec::memoryWaitSeconds(250), 0.5);
    EXPECT_DOUBLE_EQ(codec::memoryWaitSeconds(255), 0.51);
    EXPECT_EQ(codec::settlingMilliseconds(0.5), 500u);
    EXPECT_EQ(codec::settlingMilliseconds(0.51), 510u);
    EXPECT_EQ(codec::settlingMilliseconds(1.7), 1000u);
    EXPECT_EQ(codec::settlingMilliseconds(0.0004), 0u);
}

}  // namespace
}  // namespace nxtka::linear
