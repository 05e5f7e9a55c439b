#include "core/range_table.h"

#include "core/codecs.h"
#include "core/device_rules.h"
#include "core/export_forms.h"
#include "core/last_failure.h"

#include <cmath>

namespace nxtka::ranges {

std::int32_t readEntry(PortSession& s, std::uint32_t first, std::uint32_t second, double* value) {
    std::uint32_t answer = 0;
    if (!requestValue(s, cmd::kGetRanges, CommandParam::of((first << 4) | second), answer)) return -1;
    const codec::RangeEntry entry = codec::rangeEntry(answer);
    if (value != nullptr) *value = entry.value;
    return entry.status;
}

std::int32_t writeEntry(PortSession& s, std::uint32_t first, std::uint32_t second, std::uint32_t value) {
    return sendSetting(s, cmd::kWriteRanges, (first << 28) | (second << 24) | value) ? 0 : -1;
}

std::int32_t setEntry(unsigned port, std::uint32_t first, std::uint32_t second, std::uint32_t value) {
    if (first > kLargestSelector || second > kLargestSelector || value > kLargestValue) {
        return refuseArgument("range entry or value outside its range");
    }
    return underGuard(port, [&](PortSession& s) { return writeEntry(s, first, second, value); });
}

std::int32_t writeInputRange(PortSession& s, double range) {
    if (rules::usesRangeTable(s)) {
        if (range < 0.0) return refuseArgument("negative input range");
        const auto raw = codec::signMagnitudeHundredths(-range);
        return raw ? writeEntry(s, 0, 0, *raw) : refuseArgument(kValueRefused);
    }
    const auto raw = codec::inputRangeRaw(range);
    if (!raw) return refuseArgument("input range outside 0..25.5");
    return sendSetting(s, cmd::kWriteRange, *raw) ? 0 : -1;
}

double readInputRange(PortSession& s) {
    if (rules::usesRangeTable(s)) {
        double entry = 0.0;
        const std::int32_t status = readEntry(s, 0, 0, &entry);
        if (status < 0) return -1.0;
        if (status > 0) return std::fabs(entry);
        if (entry < 0.0) {
            recordFailure(Failure::Answer, "range table entry 0/0: status 0 with a negative range");
            return -1.0;
        }
    }
    std::uint32_t raw = 0;
    return requestValue(s, cmd::kGetRange, CommandParam::none(), raw) ? codec::inputRange(raw) : -1.0;
}

}  // namespace nxtka::ranges
