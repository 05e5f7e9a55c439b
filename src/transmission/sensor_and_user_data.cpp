// User text and user offset; sensor capacity, rated output and the sensor
// text assignment.
#include "core/codecs.h"
#include "core/export_forms.h"
#include "core/range_table.h"
#include "nxtka.h"

#include <cstring>

using namespace nxtka;

namespace {

constexpr std::size_t kUserTextCells = 256;

double decimalExponent(const PortSession&, std::uint32_t word) { return codec::decimalExponentValue(word); }

}  // namespace

NXTKA_API int32_t NXTKA_CALL TKAsetUserTextChar(uint32_t port, uint32_t index, int32_t character) {
    if (index >= kUserTextCells) return refuseArgument("user text cell above 255");
    return setLowBytes(port, cmd::kSetUserTextChar, (index << 8) | (static_cast<std::uint32_t>(character) & 0xFF));
}
NXTKA_API int32_t NXTKA_CALL TKAsetUserText(uint32_t port, const char* text) {
    std::size_t n = text == nullptr ? 0 : strnlen(text, kUserTextCells);
    return underGuard(port, [&](PortSession&) -> std::int32_t {
        // Cell 0 is cleared first and gets the first character last.
        std::int32_t result = TKAsetUserTextChar(port, 0, 0);
        while (result == 0 && n > 0) {
            --n;
            result = TKAsetUserTextChar(port, static_cast<std::uint32_t>(n), static_cast<unsigned char>(text[n]));
        }
        return result;
    });
}

NXTKA_API int32_t NXTKA_CALL TKAsetUserOffset(uint32_t port, double offset) {
    return setEncodedInSession(port, cmd::kSetUserOffset, "user offset outside the scale",
                               [&](const PortSession& s) { return codec::userOffsetRaw(offset, bipolarOf(s)); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetUserOffset(uint32_t port, double* offset) {
    if (offset == nullptr) return refuseArgument("null offset");
    return guardedQueryInto(port, cmd::kGetUserOffset, offset, [](const PortSession& s, std::uint32_t raw) {
        return codec::normalized24(raw, bipolarOf(s));
    });
}

NXTKA_API int32_t NXTKA_CALL TKAsetSensorCapacity(uint32_t port, double capacity) {
    return setEncoded(port, cmd::kSetSensorCapacity, codec::sensorCapacityWord(capacity),
                      "sensor capacity outside 0.1..9999999");
}
NXTKA_API int32_t NXTKA_CALL TKAgetSensorCapacity(uint32_t port, double* capacity) {
    if (capacity == nullptr) return refuseArgument("null output");
    return guardedQueryInto(port, cmd::kGetSensorCapacity, capacity, decimalExponent);
}

NXTKA_API int32_t NXTKA_CALL TKAsetRatedOutput(uint32_t port, double ratedOutput) {
    if (!(ratedOutput >= 0.001 && ratedOutput <= 350.0)) return refuseArgument("rated output outside 0.001..350");
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        double range = 0.0;  // entry 0/0 of the range table: the input range
        if (ranges::readEntry(s, 0, 0, &range) == -1) return -1;
        const auto word = codec::ratedOutputWord(ratedOutput, range);
        if (!word) return refuseArgument("rated output does not fit the input range's digits");
        return sendSetting(s, cmd::kSetRatedOutput, *word) ? 0 : -1;
    });
}
NXTKA_API int32_t NXTKA_CALL TKAgetRatedOutput(uint32_t port, double* ratedOutput) {
    if (ratedOutput == nullptr) return refuseArgument("null output");
    return guardedQueryInto(port, cmd::kGetRatedOutput, ratedOutput, decimalExponent);
}

NXTKA_API int32_t NXTKA_CALL TKAgetSensorTextAssign(uint32_t port, int32_t* second) {
    return guardedQuery(port, cmd::kGetSensorTextAssign, [&](PortSession&, std::uint32_t word) -> std::int32_t {
        if (second != nullptr) *second = static_cast<std::int32_t>(word & 0xFF);
        return static_cast<std::int32_t>((word >> 8) & 0xFF);
    });
}
