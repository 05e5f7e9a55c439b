#include "stream/stream_control.h"

#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_exchange.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/port_guard.h"
#include "core/serial_link.h"
#include "nxtka.h"

namespace nxtka {
namespace {

using namespace cmd;

constexpr std::uint32_t kSettleMs = 300;
constexpr std::uint32_t kDrainTimeoutMs = 1000;
constexpr std::uint32_t kAckStepMs = 100;

void dropUnread(PortSession& s, std::uint32_t& dropped) {
    dropped = s.ring.dropAll();
    settleDataEvent(s);
}

// Sends one command, waits for the amplifier to act on it, then drains.
std::int32_t commandThenDrain(unsigned port, int code) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    if (!sendCommand(s, code)) return -1;
    waitMilliseconds(kSettleMs);
    const int drained = drainValues(s, kDrainTimeoutMs);
    s.holdValues = 0;
    return drained == -1 ? -1 : 0;
}

}  // namespace

int drainValues(PortSession& s, std::uint32_t timeoutMs) {
    const std::uint32_t wait = timeoutMs + (s.holdValues.load() == 0 ? 100u : 0u);
    std::uint32_t word = 0;
    s.holdValues = 1;
    beginExchange(s, kMarker, &word);
    const std::uint8_t marker = static_cast<std::uint8_t>(kMarker.code);
    bool waitFailed = true;  // a failed write recorded its reason
    if (writeBytes(s, &marker, 1) == 1) {
        const std::uint32_t readError = waitAnswer(s, wait);
        waitFailed = readError != 0;
        if (waitFailed) recordDeviceFailure("device failed while reading", readError);
    }
    const bool answered = endExchange(s, waitFailed);
    if (!answered && !waitFailed) recordFailure(Failure::Timeout, "the marker that confirms the drained stream");
    std::uint32_t dropped = 0;
    dropUnread(s, dropped);
    if (!answered) return -1;
    return dropped != 0 ? 1 : 0;
}

int purgeInput(PortSession& s) {
    s.answerEvent.reset();
    s.ring.clear();
    settleDataEvent(s);
    s.discardInput = 1;
    s.device->purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
    s.ringMutex->unlock();
    std::uint32_t purgeError = 0;
    bool purgeFailed = false;
    while (!s.answerEvent.wait(kAckStepMs)) {
        purgeFailed = !s.device->purge(platform::kPurgeRxAbort);
        if (purgeFailed) purgeError = platform::lastSystemError();
    }
    if (!purgeFailed) return 1;
    recordDeviceFailure("cannot purge the input", purgeError);
    return 0;
}

}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL TKAflushBuffer(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const int result = drainValues(s, kDrainTimeoutMs);
    s.holdValues = 0;
    return result;
}

NXTKA_API int32_t NXTKA_CALL TKAclearBuffer(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const std::uint8_t code = kClearBuffer;
    if (writeBytes(s, &code, 1) != 1) return -1;
    waitMilliseconds(kSettleMs);
    const int purged = purgeInput(s);
    guard.ringReleased();
    return purged == 1 ? 0 : -1;
}

NXTKA_API int32_t NXTKA_CALL TKAstopTransmit(uint32_t port) { return commandThenDrain(port, kStopTransmit); }

NXTKA_API int32_t NXTKA_CALL TKAclearMaxValue(uint32_t port) { return commandThenDrain(port, kClearMaxValue); }

NXTKA_API int32_t NXTKA_CALL TKAstartTransmit(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const int drained = drainValues(s, kDrainTimeoutMs);
    const bool sent = drained != -1 && sendCommand(s, kStartTransmit);
    s.holdValues = 0;
    return sent ? 0 : -1;
}

NXTKA_API int32_t NXTKA_CALL TKAgetValue(uint32_t port) { return sendAlone(port, cmd::kSingleValue); }

NXTKA_API int32_t NXTKA_CALL TKAgetValues(const int32_t* ports, int32_t count) {
    const unsigned char code = kSingleValue;
    return NXsendBytesToDevices(reinterpret_cast<const uint32_t*>(ports), count, &code, 1);
}

}  // extern "C"
