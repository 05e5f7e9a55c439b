// Linearization tables: written under a marker, checked, read back, and the
// single-byte flag commands.
#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "memory/device_memory.h"
#include "memory/linear_failure.h"
#include "memory/linear_table_codec.h"
#include "nxtka.h"

#include <algorithm>
#include <array>
#include <string>

namespace nxtka {
namespace {

using linear::Layout;
namespace error = linear::error;

// 0 fine; above 0 an error code; below 0 a failure result passed on as it is.
using Code = std::int32_t;

constexpr std::uint32_t kMarkerPauseMs = 100;
constexpr char kMarkerText[] = "LIN";
constexpr std::uint32_t kMarkerOrder[] = {1, 2, 0};
constexpr std::uint32_t kRemovalOrder[] = {0, 1, 2};
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint32_t kRangeSelectors = 16;
constexpr double kMostRange = 100000.0;

Code shortOr(std::int32_t moved, std::int64_t wanted) {
    if (moved < 0) return moved;
    return moved < wanted ? error::kShortTransfer : 0;
}

// Reads `bytes` from `address` into `to`: 0, kShortTransfer or the negative result.
Code readBytes(unsigned port, std::uint32_t address, std::uint32_t bytes, std::uint8_t* to) {
    return shortOr(TKAcopyMemory(port, static_cast<std::int32_t>(bytes), address, to), bytes);
}

// Writes as TKAcopyMemory does and, with `verify`, reads the bytes back: a
// byte the amplifier holds other than written is a transfer that failed.
Code writeBytes(PortSession& s, std::uint32_t address, std::uint32_t bytes, const std::uint8_t* from, bool verify) {
    std::uint32_t settle = 0;
    if (!memory::settlingMs(s, settle)) return -1;
    const std::int32_t written = memory::writeBlock(s, settle, address, from, bytes);
    const bool complete = written == static_cast<std::int32_t>(bytes);
    std::uint32_t differs = 0;
    const bool same = complete && (!verify || memory::readsBackAs(s, settle, address, from, bytes, differs));
    memory::pause(s, settle);
    if (!complete) return memory::lineFailed(s) ? memory::lineFailure(s) : shortOr(written, bytes);
    return same ? 0 : error::kShortTransfer;
}

// The marker written ("LIN" at +1, +2, +0) or removed (spaces at +0, +1,
// +2), each byte after the settling time, then the settling time and 100 ms
// more. Placing ignores the writes' results (the check after it judges);
// removing reports a write that failed, with its reason recorded.
Code moveMarker(PortSession& s, const Layout& l, bool place) {
    std::uint32_t settle = 0;
    if (!memory::settlingMs(s, settle)) return -1;
    bool allWritten = true;
    SavedFailure firstFailure;
    for (const std::uint32_t p : place ? kMarkerOrder : kRemovalOrder) {
        const auto byte = place ? static_cast<std::uint8_t>(kMarkerText[p]) : kSpace;
        if (memory::writeRetry(s, settle, l.markerAddress + p, false, byte, nullptr) != 0 && allWritten) {
            allWritten = false;
            firstFailure = saveFailure();
        }
    }
    memory::pause(s, settle);
    memory::pause(s, kMarkerPauseMs);
    if (place || allWritten) return 0;
    restoreFailure(firstFailure);
    return error::kShortTransfer;
}

// Removes the marker after a call's work; the call keeps its result and
// info, and its reason: a removal that failed becomes the reason of a call
// that succeeded (what the marker cells mean is the amplifier's matter).
void removeMarker(PortSession& s, const Layout& l, bool succeeded) {
    const SavedFailure kept = saveFailure();
    if (moveMarker(s, l, false) != 0 && succeeded) {
        linear::explainMarkerLeft();
    } else {
        restoreFailure(kept);
    }
}

template <class Query>
auto askTwice(Query query) {
    auto r = query();
    return r < 0 ? query() : r;
}

// The amplifier supports the described layout: model 5 and up, or model 4
// with the command test and the range-table commands.
Code headerSupported(unsigned port) {
    const std::int32_t model = TKAmodel(port);
    if (model < 4) return error::kNoSupport;
    if (model > 4) return 0;
    if (askTwice([&] { return TKAgetOptionsCommandTest(port); }) <= 0) return error::kNoSupport;
    if (askTwice([&] { return TKAisCommandAvailable(port, cmd::kGetRanges, cmd::kWriteRanges); }) != 1)
        return error::kNoSupport;
    return 0;
}

Code detectLayout(PortSession& s, bool writeIntent, Layout& l) {
    const unsigned port = s.portNumber;
    l = Layout{};
    if (writeIntent) {
        const std::int32_t mode = askTwice([&] { return TKAgetMode(port); });
        if (mode < 0) return -1;
        if (fieldOf(mode, mode::kLinear) != 0 || fieldOf(mode, mode::kLock) != 0) writeIntent = false;
    }
    std::uint8_t status[4] = {};
    const std::int32_t checked = TKAcheckMemory(port, 4, linear::kSecondRecordAddress, status);
    if (checked != 4) return checked < 0 ? checked : -1;
    if (std::all_of(std::begin(status), std::end(status), [](std::uint8_t b) { return b == 0; })) {
        std::uint8_t header[linear::kHeaderBytes] = {};
        if (const Code c = readBytes(port, 0, linear::kHeaderBytes, header)) return c;
        if (header[0] == 0 || header[0] == 255) return error::kNoSupport;
        if (const Code c = headerSupported(port)) return c;
        if (const Code c = linear::headerLayout(header, l)) return c;
    } else {
        l = linear::legacyLayout();
    }
    l.markerLength = 3;
    if (!writeIntent) return 0;

    if (const Code c = moveMarker(s, l, true)) return c;
    std::int32_t passed = 0;
    std::int32_t checkedCount = 0;
    for (std::uint8_t probe : {std::uint8_t{0}, std::uint8_t{1}}) {
        std::uint8_t byte = probe;
        checkedCount = TKAcheckMemory(port, -1, l.countAddress, &byte);
        if (checkedCount != 1) break;
        if (byte == 0) {
            passed = 1;
            break;
        }
    }
    if (checkedCount != 1) {
        removeMarker(s, l, false);
        return checkedCount < 0 ? checkedCount : -1;
    }
    l.markerCheck = passed != 0 ? 0 : 1;
    return 0;
}

// The input range of the legacy layout; asked again when the first answer
// fails or is negative.
Code legacyRange(unsigned port, double& range) {
    range = TKAgetRange(port);
    if (range < 0.0) range = TKAgetRange(port);
    return range < 0.0 ? -1 : 0;
}

std::int32_t rangeEntry(unsigned port, std::uint32_t first, std::uint32_t second, double& value) {
    return askTwice([&] { return TKAgetRanges(port, first, second, &value); });
}

// One of the amplifier's ranges (entries 1..15 of groups 0..15) is
// `hundredths`; an entry of status 0 with a negative value ends a group,
// and at the head of a group it ends the search unfound.
Code findRange(unsigned port, double hundredths) {
    for (std::uint32_t i = 0; i < kRangeSelectors; ++i) {
        double value = 0.0;
        const std::int32_t head = rangeEntry(port, i, 0, value);
        if (head < 0) return -1;
        if (head == 0 && value < 0.0) return error::kExtraY;
        for (std::uint32_t j = 1; j < kRangeSelectors; ++j) {
            const std::int32_t r = rangeEntry(port, i, j, value);
            if (r < 0) return -1;
            if (r == 0 && value < 0.0) break;
            if (r > 0 && codec::roundHalfAway(value * 100.0) == hundredths) return 0;
        }
    }
    return error::kExtraY;
}

Code checkExtra(PortSession& s, const Layout& l, const LinearPoint& record, bool store, bool verify) {
    const unsigned port = s.portNumber;
    if (l.legacy) {
        std::int64_t hundredths = 0;
        if (const Code c = linear::checkLegacyExtra(record, hundredths)) return c;
        double range = 0.0;
        if (const Code c = legacyRange(port, range)) return c;
        if (range > kMostRange) return error::kExtraY;
        const double r = codec::roundHalfAway(range * 100.0);
        if (r > 0.0 && r != static_cast<double>(hundredths)) return error::kExtraY;
        return 0;
    }
    std::uint8_t bytes[4] = {};
    if (const Code c = linear::encodeExtra(record, bytes)) return c;
    if (const Code c = findRange(port, codec::roundHalfAway(record.y * 100.0))) return c;
    return store ? writeBytes(s, linear::kExtraAddress, 4, bytes, verify) : 0;
}

// Points, then slopes (one by one into the 4-byte slots of the legacy
// layout), last the count byte. Nothing but the count byte for no points.
Code writeImage(PortSession& s, const Layout& l, const std::uint8_t* image, std::uint32_t n, bool verify) {
    if (l.markerCheck != 0) return error::kMarker;
    if (n >= 1) {
        if (const Code c = writeBytes(s, l.pointsAddress, n * l.pointSize, image + l.pointsAddress, verify)) return c;
    }
    if (n >= 2 && l.legacy) {
        for (std::uint32_t k = 0; k + 1 < n; ++k) {
            const std::uint32_t slot = l.slopesAddress + k * l.slopeSize;
            if (const Code c = writeBytes(s, slot, 3, image + slot, verify)) return c;
        }
    } else if (n >= 2) {
        if (const Code c =
                writeBytes(s, l.slopesAddress, (n - 1) * l.slopeSize, image + l.slopesAddress, verify))
            return c;
    }
    return writeBytes(s, l.countAddress, 1, image + l.countAddress, verify);
}

Code writeTable(PortSession& s, const Layout& l, const LinearPoint* table, std::uint32_t n, std::int32_t mode,
                bool verify) {
    std::array<std::uint8_t, linear::kImageSize> image{};
    if (const Code c = linear::encodeTable(l, table, n, mode, image)) return c;
    if (mode <= 1 || n == 0) {
        if (const Code c = checkExtra(s, l, table[n], false, verify)) return c;
    }
    if (mode != 0) return 0;
    if (const Code c = writeImage(s, l, image.data(), n, verify)) return c;
    return checkExtra(s, l, table[n], true, verify);
}

// The legacy layout's extra record: x 0, y the negated input range.
Code legacyExtra(unsigned port, LinearPoint& record) {
    double range = 0.0;
    if (const Code c = legacyRange(port, range)) return c;
    record = {0.0, -range};
    return 0;
}

// Reads into a table of its own and copies it to the caller's only when
// every part arrived, so a failure leaves the caller's table as it was.
Code readTable(unsigned port, const Layout& l, LinearPoint* table, std::uint32_t count, std::int32_t& info) {
    std::uint8_t countByte = 0;
    if (const Code c = readBytes(port, l.countAddress, 1, &countByte)) return c;
    const std::uint32_t stored = linear::storedPoints(countByte);
    const std::uint32_t k = std::min(stored, count);
    if (k > l.maxPoints) return error::kTooManyPoints;
    std::array<std::uint8_t, linear::kImageSize> image{};
    if (k >= 1) {
        if (const Code c = readBytes(port, l.pointsAddress, k * l.pointSize, image.data() + l.pointsAddress)) return c;
    }
    if (k >= 2) {
        if (const Code c = readBytes(port, l.slopesAddress, (k - 1) * l.slopeSize, image.data() + l.slopesAddress))
            return c;
    }
    std::array<LinearPoint, linear::kMostPoints> points{};
    for (std::uint32_t i = 0; i < k; ++i)
        points[i] = linear::decodePoint(l.point, image.data() + l.pointsAddress + i * l.pointSize);
    LinearPoint extra{};
    if (l.legacy) {
        if (const Code c = legacyExtra(port, extra)) return c;
    } else {
        std::uint8_t bytes[4] = {};
        if (const Code c = readBytes(port, linear::kExtraAddress, 4, bytes)) return c;
        extra = linear::decodeExtra(bytes);
    }
    std::copy_n(points.begin(), k, table);
    table[std::min(stored, count - 1)] = extra;
    info = static_cast<std::int32_t>(stored);
    return 0;
}

Code readSecondRecord(unsigned port, const Layout& l, LinearPoint* table, std::int32_t& info) {
    info = 0;
    if (l.legacy) return legacyExtra(port, table[0]);
    std::uint8_t bytes[4] = {};
    if (const Code c = readBytes(port, linear::kSecondRecordAddress, 4, bytes)) return c;
    std::uint8_t byte = 0;
    if (const Code c = readBytes(port, linear::kSecondByteAddress, 1, &byte)) return c;
    table[0] = linear::decodeExtra(bytes);
    info = byte;
    return 0;
}

// No table: read the flag byte (1) or send a flag command (-1..-4).
Code flagCommand(PortSession& s, const Layout& l, std::int32_t count, std::int32_t& info) {
    const unsigned port = s.portNumber;
    if (l.legacy && !rules::hasLegacyLinearFlags(s)) return error::kRefused;
    if (l.markerCheck != 0 && count < 0) return error::kMarker;
    if (count == 1) {
        std::uint8_t byte = 0;
        if (TKAcopyMemory(port, 1, l.flagAddress, &byte) != 1) return -1;
        info = byte;
        return 0;
    }
    if (count < -4 || count > -1) return refuseArgument("flag command outside -4..-1");
    std::uint32_t settle = 0;
    if (!memory::settlingMs(s, settle)) return -1;
    const std::uint8_t byte = count >= -2 ? 'S' : 'I';
    const bool flag = count == -1 || count == -3;
    std::int32_t status = memory::kNoAnswer;
    memory::writeRetry(s, settle, l.flagAddress, flag, byte, &status);
    memory::pause(s, settle);
    switch (status) {
    case 0:
    case 1: info = 1; return 0;
    case 30: info = 0; return 0;
    case 18: return error::kRefused;
    default:
        // A success the command does not know: the step recorded no reason.
        if (status < memory::kUnknownAnswer) {
            const std::string text = "flag command answered status " + std::to_string(status);
            recordFailure(Failure::Answer, text.c_str());
        }
        return -1;
    }
}

struct Outcome {
    Code code;
    std::int32_t result;
};

Outcome copyLinear(PortSession& s, LinearPoint* table, std::int32_t count, std::int32_t mode, bool verify,
                   std::int32_t& info) {
    const unsigned port = s.portNumber;
    const bool reading = table != nullptr && count > 0;
    if (!rules::hasLinearization(s)) {
        linear::explainFailure(error::kNoSupport, reading);
        return {error::kNoSupport, -1};
    }
    const bool writeIntent = count <= 0 && (table == nullptr || mode <= 0);
    Layout l;
    if (const Code c = detectLayout(s, writeIntent, l)) {
        linear::explainFailure(c, reading);
        return {c, -1};
    }

    Outcome out{0, 0};
    if (table == nullptr && count == 0) {
        info = static_cast<std::int32_t>(l.maxPoints);
        out.result = l.markerCheck == 0 ? 1 : 0;
    } else if (table == nullptr) {
        out.code = flagCommand(s, l, count, info);
    } else if (count <= 0) {
        out.code = writeTable(s, l, table, static_cast<std::uint32_t>(-count), mode, verify);
    } else if (mode >= 0) {
        out.code = readTable(port, l, table, static_cast<std::uint32_t>(count), info);
    } else {
        out.code = readSecondRecord(port, l, table, info);
    }
    if (out.code != 0) {
        linear::explainFailure(out.code, reading);
    } else {
        clearFailure();
    }
    // The marker goes again only when its check passed.
    if (l.markerCheck == 0) removeMarker(s, l, out.code == 0);
    return out;
}

std::int32_t infoOf(Code code) {
    return code > 0 ? static_cast<std::int32_t>(0x80000000u | static_cast<std::uint32_t>(code)) : code;
}

}  // namespace
}  // namespace nxtka

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL TKAcopyLinear(uint32_t port, LinearPoint* table, int32_t count, int32_t* info) {
    std::int32_t mode = info != nullptr ? *info : 0;
    bool verify = true;
    auto fail = [info](Code code) {
        if (info != nullptr) *info = infoOf(code);
        return -1;
    };
    if (table != nullptr && count <= 0) {
        const std::int64_t n = -static_cast<std::int64_t>(count);
        if (n > linear::kMostPoints) {
            refuseArgument("more points than a table holds");
            return fail(error::kTooManyPoints);
        }
        if ((mode & linear::kSortFlag) != 0) {
            linear::sortByX(table, static_cast<std::size_t>(n));
            mode &= ~linear::kSortFlag;
        }
        verify = (mode & linear::kNoVerifyFlag) == 0;
        mode &= ~linear::kNoVerifyFlag;
        if (mode < 0 || mode > 3) {
            refuseArgument("linearization mode outside 0..3");
            return fail(error::kMode);
        }
    }
    CommandGuard guard(port);
    if (!guard.ok()) return fail(-1);
    std::int32_t out = 0;
    const Outcome outcome = copyLinear(guard.session(), table, count, mode, verify, out);
    if (outcome.code != 0) return fail(outcome.code);
    if (info != nullptr) *info = out;
    return outcome.result;
}
