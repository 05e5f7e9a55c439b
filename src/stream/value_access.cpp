// Reading measured values: only the ring mutex is taken, so values can be read
// while another thread waits for a command's answer on the same port.
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/port_guard.h"
#include "nxtka.h"
#include "stream/value_conversion.h"

#include <algorithm>
#include <cstring>

namespace nxtka {
namespace {

static_assert(sizeof(SampleRecord) == sizeof(double));

// The result of a read that finds no value: 0, or -1 with the device's
// failure as the reason once the receive thread has seen one. The first such
// -1 has told the caller of the failure, so the data event goes quiet.
int nothingWaiting(PortSession& s) {
    const std::uint32_t error = s.commError.load();
    if (error == 0) return 0;
    recordDeviceFailure("device failed while reading", error);
    if (!s.failureReported) {
        s.failureReported = true;
        settleDataEvent(s);
    }
    return -1;
}

// Where a read puts what it takes; any of them may be null.
struct ReadOutputs {
    double* values;
    unsigned char* statuses;
    std::int64_t* times;
    std::uint64_t* sequences;
};

// Takes `n` records off the ring when there is no value array to copy them
// into: only statuses and times are wanted.
void takeWithoutValues(SampleRing& ring, std::uint32_t n, const ReadOutputs& out) {
    constexpr std::uint32_t kChunk = 256;
    SampleRecord chunk[kChunk];
    for (std::uint32_t done = 0; done < n;) {
        const std::uint32_t k = std::min(kChunk, n - done);
        ring.take(chunk, k, out.times != nullptr ? out.times + done : nullptr);
        if (out.statuses != nullptr) {
            for (std::uint32_t i = 0; i < k; ++i) out.statuses[done + i] = chunk[i].status;
        }
        done += k;
    }
}

// Takes up to `max` values; 1 when some were delivered, 0 when none were
// waiting, -1 when none are waiting and the device has failed. Under the ring
// mutex the raw records are only copied into the caller's value array (a
// record is as large as a double); the guard is released before they are
// converted in place, so the receive thread waits for a copy, not for the
// conversion.
int takeValues(RingGuard& guard, const ReadOutputs& out, std::int32_t max, std::int32_t& delivered) {
    PortSession& s = guard.session();
    SampleRing& ring = s.ring;
    if (ring.count() == 0) return nothingWaiting(s);
    const bool bipolar = s.bipolar.load() != 0;
    const double norm = s.displayNorm.load();
    const int flags = s.displayFlags.load();
    const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(max), ring.count());
    const std::uint64_t firstSequence = ring.oldestSequence();
    if (out.values != nullptr) {
        ring.take(out.values, n, out.times);
    } else {
        takeWithoutValues(ring, n, out);
    }
    if (ring.count() == 0) settleDataEvent(s);
    guard.release();
    if (out.sequences != nullptr) {
        for (std::uint32_t i = 0; i < n; ++i) out.sequences[i] = firstSequence + i;
    }
    if (out.values != nullptr) {
        for (std::uint32_t i = 0; i < n; ++i) {
            SampleRecord r;
            std::memcpy(&r, &out.values[i], sizeof r);
            out.values[i] = convertRecord(r, bipolar, norm, flags);
            if (out.statuses != nullptr) out.statuses[i] = r.status;
        }
    }
    delivered = static_cast<std::int32_t>(n);
    return 1;
}

// The reads' one form: the port's ring guard, then up to max values into the
// outputs; the count goes to *delivered only when the read succeeded.
int readInto(std::uint32_t port, const ReadOutputs& out, std::int32_t max, std::int32_t* delivered) {
    RingGuard guard(port);
    if (!guard.ok()) return -1;
    std::int32_t n = 0;
    const int result = takeValues(guard, out, max, n);
    if (result >= 0 && delivered != nullptr) *delivered = n;
    return result;
}

}  // namespace
}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL TKAreadStatus(uint32_t port, double* value, unsigned char* status) {
    if (value == nullptr) return refuseArgument("null value pointer");
    return readInto(port, {value, status, nullptr, nullptr}, 1, nullptr);
}

NXTKA_API int32_t NXTKA_CALL TKAread(uint32_t port, double* value) { return TKAreadStatus(port, value, nullptr); }

NXTKA_API int32_t NXTKA_CALL TKAreadStatusMultiple(uint32_t port, double* values, unsigned char* statuses,
                                                   int32_t maxCount, int32_t* delivered) {
    if (maxCount < 1 || values == nullptr || delivered == nullptr) {
        return refuseArgument("count below 1, or null pointer");
    }
    return readInto(port, {values, statuses, nullptr, nullptr}, maxCount, delivered);
}

NXTKA_API int32_t NXTKA_CALL TKAreadMultiple(uint32_t port, double* values, int32_t maxCount, int32_t* delivered) {
    return TKAreadStatusMultiple(port, values, nullptr, maxCount, delivered);
}

NXTKA_API int32_t NXTKA_CALL NXreadTimed(uint32_t port, double* values, unsigned char* statuses, int64_t* times,
                                         uint64_t* sequences, int32_t maxCount, int32_t* delivered) {
    if (maxCount < 1 || delivered == nullptr) return refuseArgument("count below 1, or null delivered pointer");
    return readInto(port, {values, statuses, times, sequences}, maxCount, delivered);
}

NXTKA_API int32_t NXTKA_CALL NXgetDroppedValues(uint32_t port, uint64_t* dropped) {
    if (dropped == nullptr) return refuseArgument("null pointer");
    RingGuard guard(port);
    if (!guard.ok()) return -1;
    *dropped = guard.session().ring.overflowed();
    return 0;
}

NXTKA_API int32_t NXTKA_CALL TKAreceived(uint32_t port) {
    RingGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    if (s.ring.count() != 0) return 1;
    return nothingWaiting(s);
}

NXTKA_API int32_t NXTKA_CALL NXinternalStatus(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    return guard.session().flushSupported.load() != 0 ? 1 : 0;
}

}  // extern "C"
