// The linearization table encoder with any table, layout, mode and image size.
// It must never write outside the image: the image is encoded once in an
// allocation of exactly its size (AddressSanitizer) and once between guard
// bytes, and inside the image only the count byte, the point slots and the
// slope slots may change. A table it accepts must read back as given, within
// half a step, with slopes that match the stored points.
//
// Input: flags, header, mode, point count, image size, points.
#include "fuzz_input.h"
#include "memory/linear_table_codec.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace nxtka;
using namespace nxtka::linear;
using fuzz::Input;

constexpr std::size_t kGuard = 64;

bool near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance * (1.0 + 1e-9); }

std::uint32_t bigEndian(const std::uint8_t* p, std::uint32_t n) {
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// The bytes the encoder may change: count byte, n point slots, n - 1 slope
// slots (3 or 4 bytes written in each).
std::vector<bool> writable(const Layout& l, std::uint32_t n, std::size_t size) {
    std::vector<bool> w(size, false);
    const auto mark = [&](std::uint64_t from, std::uint64_t count) {
        for (std::uint64_t a = from; a < from + count && a < size; ++a) w[static_cast<std::size_t>(a)] = true;
    };
    mark(l.countAddress, 1);
    mark(l.pointsAddress, std::uint64_t{n} * l.pointSize);
    if (n > 1) mark(l.slopesAddress, std::uint64_t{n - 1} * l.slopeSize);
    return w;
}

bool knownError(std::int32_t code) {
    const std::int32_t base = code & ~0x3FF;
    const std::int32_t flags = code & 0x300;
    switch (base) {
    case error::kTooManyPoints: return (code & 0x3FF) == 0;
    case error::kPoint:
    case error::kOrder: return flags != 0;
    case error::kSlope: return flags == 0;
    default: return false;
    }
}

void checkAccepted(const Layout& l, const std::vector<LinearPoint>& pts, std::int32_t mode,
                   const std::uint8_t* image) {
    const auto n = static_cast<std::uint32_t>(pts.size());
    FUZZ_CHECK(n <= kMostPoints);
    if (mode <= 1) FUZZ_CHECK(n <= l.maxPoints);
    if (mode <= 2) FUZZ_CHECK(n != 1);
    FUZZ_CHECK(image[l.countAddress] == (n == 0 ? 0 : n - 1));
    if (mode > 1) return;  // a check-only table beyond the limit may overlap itself

    const bool wide = l.point == PointFormat::Pair24;
    const double unit = std::ldexp(1.05, wide ? -23 : -15);
    const std::uint32_t half = l.pointSize / 2;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t* at = image + l.pointsAddress + i * l.pointSize;
        const LinearPoint back = decodePoint(l.point, at);
        // Within half a step, give or take the rounding of the offset's sum.
        const double tolerance = unit * (0.5 + 1e-6);
        FUZZ_CHECK(near(back.x, pts[i].x, tolerance) && near(back.y, pts[i].y, tolerance));
        if (i == 0) continue;
        const std::uint8_t* before = at - l.pointSize;
        const double x0 = bigEndian(before, half), y0 = bigEndian(before + half, half);
        const double x1 = bigEndian(at, half), y1 = bigEndian(at + half, half);
        FUZZ_CHECK(x1 > x0 && y1 >= y0);
        const bool four = l.slope == SlopeFormat::Slope4;
        const double scale = std::ldexp(1.0, four ? 26 : 18);
        const double slope = bigEndian(image + l.slopesAddress + (i - 1) * l.slopeSize, four ? 4 : 3);
        FUZZ_CHECK(slope < (four ? 0x40000000 : 0x400000));
        FUZZ_CHECK(near(slope, (y1 - y0) / (x1 - x0) * scale, 0.5));
    }
}

void checkSort(std::vector<LinearPoint> pts) {
    std::vector<LinearPoint> sorted = pts;
    sortByX(sorted.data(), sorted.size());
    for (std::size_t i = 1; i < sorted.size(); ++i) FUZZ_CHECK(!(sorted[i - 1].x > sorted[i].x));
    // The same points, equal x in their old order: a stable sort by x of
    // tables without NaN gives exactly the same sequence.
    if (std::none_of(pts.begin(), pts.end(), [](const LinearPoint& p) { return std::isnan(p.x); })) {
        std::stable_sort(pts.begin(), pts.end(), [](const LinearPoint& a, const LinearPoint& b) { return a.x < b.x; });
        for (std::size_t i = 0; i < pts.size(); ++i)
            FUZZ_CHECK(std::memcmp(&pts[i], &sorted[i], sizeof(LinearPoint)) == 0);
    }
}

void checkExtra(const LinearPoint& record) {
    std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const std::int32_t code = encodeExtra(record, out);
    FUZZ_CHECK(code == 0 || code == error::kExtraX || code == error::kExtraY);
    if (code == 0) {
        const LinearPoint back = decodeExtra(out);
        FUZZ_CHECK(near(back.x, record.x, 0.5) && near(back.y, record.y, 0.005));
    }
    std::int64_t hundredths = -1;
    if (checkLegacyExtra(record, hundredths) == 0) {
        FUZZ_CHECK(hundredths >= 1 && hundredths <= 8388607);
        FUZZ_CHECK(near(static_cast<double>(hundredths) / 100.0, -record.y, 0.005));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    std::uint8_t header[kHeaderBytes];
    for (std::uint8_t& b : header) b = in.byte();
    Layout layout = legacyLayout();
    if ((flags & 1) != 0 && headerLayout(header, layout) != 0) layout = legacyLayout();

    const std::uint8_t modeByte = in.byte();
    const std::int32_t mode = (modeByte & 0x80) != 0 ? static_cast<std::int32_t>(in.u32()) : modeByte % 4;
    const std::uint32_t n = (std::uint32_t{in.byte()} << 8 | in.byte()) % 300;
    const std::uint32_t sizeWord = std::uint32_t{in.byte()} << 8 | in.byte();
    const std::size_t imageSize = (flags & 2) != 0 ? kImageSize : sizeWord % (kImageSize + 64);
    const std::uint8_t fill = in.byte();

    // Rising tables (each point a step up from the last) reach the slopes.
    const bool rising = (flags & 4) != 0;
    std::vector<LinearPoint> pts(n);
    LinearPoint last{-1.05, -1.05};
    for (LinearPoint& p : pts) {
        p = {in.number(), in.number()};
        if (rising) p = last = {last.x + std::fabs(p.x), last.y + std::fabs(p.y)};
    }

    std::vector<std::uint8_t> guarded(kGuard + imageSize + kGuard, fill);
    const std::span<std::uint8_t> image(guarded.data() + kGuard, imageSize);
    const std::int32_t code = encodeTable(layout, pts.data(), n, mode, image);

    const auto exact = std::make_unique<std::uint8_t[]>(imageSize);
    std::memset(exact.get(), fill, imageSize);
    FUZZ_CHECK(encodeTable(layout, pts.data(), n, mode, std::span(exact.get(), imageSize)) == code);
    FUZZ_CHECK(std::memcmp(exact.get(), image.data(), imageSize) == 0);

    for (std::size_t i = 0; i < kGuard; ++i) FUZZ_CHECK(guarded[i] == fill && guarded[kGuard + imageSize + i] == fill);
    const std::vector<bool> mayChange = writable(layout, n, imageSize);
    for (std::size_t a = 0; a < imageSize; ++a) FUZZ_CHECK(mayChange[a] || image[a] == fill);

    if (code == 0) {
        FUZZ_CHECK(layout.countAddress < imageSize);
        if (mode >= 0 && mode <= 3) checkAccepted(layout, pts, mode, image.data());
    } else {
        FUZZ_CHECK(knownError(code));
        if ((code & ~0x3FF) != error::kTooManyPoints) FUZZ_CHECK(static_cast<std::uint32_t>(code & 0xFF) < n);
    }

    checkSort(pts);
    checkExtra({in.number(), in.number()});
    return 0;
}
