// Writing memory with a read-back. The protocol carries no checksum: a data
// byte changed on the way is stored and acknowledged like any other, and
// only reading it again shows it.
#include "core/export_forms.h"
#include "memory/device_memory.h"
#include "nxtka.h"

#include <algorithm>

using namespace nxtka;

NXTKA_API int32_t NXTKA_CALL NXwriteMemoryVerified(uint32_t port, uint32_t address, const uint8_t* bytes,
                                                   int32_t count, int32_t* firstDifference) {
    if (firstDifference != nullptr) *firstDifference = -1;
    if (bytes == nullptr || count < 1 || address >= memory::kSize ||
        static_cast<std::int64_t>(address) + count > memory::kSize) {
        return refuseArgument("null bytes, or a range outside the 1024 bytes");
    }
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        std::uint32_t settle = 0;
        if (!memory::settlingMs(s, settle)) return -1;
        const std::int32_t written = memory::writeBlock(s, settle, address, bytes, count);
        std::uint32_t differs = address + static_cast<std::uint32_t>(std::max(written, 0));
        const bool same =
            written == count && memory::readsBackAs(s, settle, address, bytes, static_cast<std::uint32_t>(count), differs);
        memory::pause(s, settle);
        if (same) return count;
        if (written < count && memory::lineFailed(s)) memory::lineFailure(s);
        if (firstDifference != nullptr) *firstDifference = static_cast<std::int32_t>(differs);
        return -1;
    });
}
