#include "core/range_table.h"

#include "core/codecs.h"
#include "core/export_forms.h"

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

}  // namespace nxtka::ranges
