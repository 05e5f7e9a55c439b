#include "memory/linear_failure.h"

#include "core/last_failure.h"
#include "memory/linear_table_codec.h"

#include <cstdio>
#include <string>

namespace nxtka::linear {
namespace {

struct Reason {
    Failure why;
    std::string text;
};

std::string withIndex(const char* format, std::int32_t index) {
    char text[96];
    std::snprintf(text, sizeof text, format, index, index + 1);
    return text;
}

// The caller's table (an argument) or the amplifier's state (its answer).
Reason reasonOf(std::int32_t code, bool reading) {
    namespace e = error;
    const std::int32_t index = code & 0xFF;
    const std::int32_t base = code >= e::kPoint && code < e::kMarker ? code & ~0xFF : code;
    switch (base) {
    case e::kNoSupport:
        return {Failure::Answer, "no linearization (option bit 0x80, the model, or a table header of 0 or 255)"};
    case e::kFormat: return {Failure::Answer, "the table format is unknown (header byte 0 of 253 or 254, or its "
                                              "point or slope format)"};
    case e::kTooManyPoints:
        if (reading) return {Failure::Answer, "more points stored than the table layout holds"};
        return {Failure::Argument, "too many points for the amplifier's table, or a single point"};
    case e::kPoint | e::kX: return {Failure::Argument, withIndex("input of point %d cannot be encoded", index)};
    case e::kPoint | e::kY: return {Failure::Argument, withIndex("output of point %d cannot be encoded", index)};
    case e::kPoint | e::kX | e::kY:
        return {Failure::Argument, withIndex("input and output of point %d cannot be encoded", index)};
    case e::kOrder | e::kX:
        return {Failure::Argument, withIndex("input not increasing from point %d to %d", index)};
    case e::kOrder | e::kY: return {Failure::Argument, withIndex("output decreasing from point %d to %d", index)};
    case e::kOrder | e::kX | e::kY:
        return {Failure::Argument, withIndex("input not increasing and output decreasing from point %d to %d", index)};
    case e::kSlope: return {Failure::Argument, withIndex("slope after point %d too steep", index)};
    case e::kMarker:
        return {Failure::Answer, "the write marker was not taken (linearization on, settings locked, or its check "
                                 "failed)"};
    case e::kMode: return {Failure::Argument, "linearization mode outside 0..3"};
    case e::kExtraX: return {Failure::Argument, "extra record: input out of range"};
    case e::kExtraY: return {Failure::Argument, "extra record: output is not one of the amplifier's ranges"};
    case e::kRefused:
        return {Failure::Answer, "flag command refused (status 18), or no flag commands below protocol level 4"};
    case e::kShortTransfer: return {Failure::Answer, "a memory transfer moved fewer bytes than asked"};
    default: return {Failure::Answer, "a memory function failed"};
    }
}

}  // namespace

void explainFailure(std::int32_t code, bool reading) {
    const bool memoryReason = code < 0 || code == error::kShortTransfer;
    if (memoryReason && lastFailure() != Failure::None) return;
    const Reason r = reasonOf(code, reading);
    recordFailure(r.why, r.text.c_str());
}

void explainMarkerLeft() {
    const Failure why = lastFailure() != Failure::None ? lastFailure() : Failure::Answer;
    const std::string text = std::string("linearization marker not removed: ") + lastFailureText();
    restoreFailure({why, text});
}

}  // namespace nxtka::linear
