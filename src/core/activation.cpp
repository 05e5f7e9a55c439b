// Activation: open and configure the device, start the receive thread,
// identify the amplifier, and only then make the port reachable.
#include "core/activation.h"

#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_exchange.h"
#include "core/export_forms.h"
#include "core/last_failure.h"
#include "core/port_guard.h"
#include "core/port_table.h"
#include "core/serial_link.h"
#include "core/sleep_bit.h"
#include "core/tuning.h"
#include "nxtka.h"
#include "stream/receive_thread.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace nxtka {
namespace {

using namespace cmd;

constexpr std::uint32_t kCtsWaitMs = 5000;
constexpr std::uint32_t kCtsPollMs = 100;
constexpr std::int32_t kDefaultBaudRate = 38400;
// How long an activation waits for a release of the same port to close the
// device, and how often it looks.
constexpr std::uint32_t kReleaseWaitMs = 3000;
constexpr std::uint32_t kReleasePollMs = 5;

struct Params {
    std::int32_t capacity = 1;
    std::uint32_t flags = 0;
    std::int32_t baudRate = kDefaultBaudRate;
};

// Copies only the bytes the record says are valid; null or unreadable
// memory, a size outside 8..16, or a speed that is not positive is refused.
bool readParams(const ActivationParams* p, Params& out) {
    if (!platform::isReadable(p, 4)) return false;
    std::int32_t size = 0;
    std::memcpy(&size, p, sizeof size);
    if (size < 8 || size > 16 || !platform::isReadable(p, static_cast<std::size_t>(size))) return false;
    unsigned char raw[16] = {};
    std::memcpy(raw, p, static_cast<std::size_t>(size));
    std::memcpy(&out.capacity, raw + 4, 4);
    if (size >= 12) std::memcpy(&out.flags, raw + 8, 4);
    if ((out.flags & NXTKA_FLAG_BAUDRATE) != 0) {
        if (size < 16) return false;
        std::memcpy(&out.baudRate, raw + 12, 4);
    }
    return out.baudRate > 0;
}

bool configureDevice(PortSession& s, const Params& p) {
    platform::SerialDevice& d = *s.device;
    platform::LineSettings ls;
    if (!d.getLineSettings(ls)) return false;
    const bool handshake = (p.flags & NXTKA_FLAG_RTSCTS) != 0;
    ls.baudRate = static_cast<std::uint32_t>(p.baudRate);
    ls.dataBits = 8;
    ls.parity = 0;
    ls.stopBits = 0;
    ls.binary = true;
    ls.dtr = platform::LineSettings::Control::Enable;
    ls.rts = handshake ? platform::LineSettings::Control::Handshake : platform::LineSettings::Control::Enable;
    ls.ctsFlow = handshake;
    ls.dsrFlow = ls.dsrSensitivity = ls.xonXoffOut = ls.xonXoffIn = false;
    ls.parityCheck = ls.errorChar = ls.nullStrip = ls.abortOnError = ls.txContinueOnXoff = false;
    // Every step is tried even when an earlier one failed.
    bool ok = d.setLineSettings(ls);
    ok = d.setZeroTimeouts() && ok;
    ok = d.clearEventMask() && ok;
    ok = d.setQueueSizes(s.rxBufferSize, kTxQueueSize) && ok;
    ok = d.purge(platform::kPurgeRxAbort | platform::kPurgeRxClear | platform::kPurgeTxAbort |
                 platform::kPurgeTxClear) && ok;
    std::uint32_t errors = 0;
    const bool cleared = d.clearErrors(errors);
    s.commError = errors;
    return cleared && ok;
}

bool waitForCts(PortSession& s) {
    const std::uint32_t deadline = platform::tickCount() + kCtsWaitMs;
    for (;;) {
        std::uint32_t bits = 0;
        if (!s.device->modemStatus(bits)) return false;
        if ((bits & platform::kModemCts) != 0) return true;
        platform::sleepMs(kCtsPollMs);
        if (static_cast<std::int32_t>(platform::tickCount() - deadline) >= 0) return false;
    }
}

// Waits until a sleeping amplifier shows signs of life, then takes its sleep
// bit off for the session. Ended by TKAabortActivate.
bool wakeUpWait(PortSession& s) {
    std::uint32_t mode = 0;
    bool haveOptions = false;
    std::uint32_t options = 0;
    platform::Event* events[2] = {s.abortEvent.get(), &s.readEvent};
    for (;;) {
        s.wakeWaiting = true;
        const int which = platform::waitAny(events, 2, platform::kInfinite);
        s.wakeWaiting = false;
        s.readEvent.reset();
        if (which != 1 || s.abortEvent->isSet()) return false;

        std::uint32_t v = 0;
        if (requestValue(s, kGetSpecialMode, CommandParam::none(), v)) {
            mode = v;
            break;
        }
        if (requestValue(s, kGetOptions, CommandParam::none(), v)) {
            options = v;
            haveOptions = true;
            if ((options & nxtka::options::kSleepMode.mask()) == 0) {
                mode = 0;
                break;
            }
        }
        if (!haveOptions) {
            std::uint32_t control = 0;
            if (probeControlWord(s, kAnswerTimeoutMs, true, control) && s.deviceLevel.load() <= 0) {
                mode = 0;
                break;
            }
        }
    }
    return sleepbit::takeOver(s, mode);
}

// The identification after the session is published; false ends the activation.
bool identify(PortSession& s, const Params& p) {
    if ((p.flags & NXTKA_FLAG_WAKEUP) != 0 && !wakeUpWait(s)) {
        if (s.abortEvent->isSet()) recordFailure(Failure::Aborted);
        return false;
    }
    std::uint32_t control = 0;
    if (!probeControlWord(s, kProbeTimeoutMs, true, control)) {
        // Values kept coming: the amplifier is alive, give it one more chance.
        if (s.heldFrames.load() == 0 || !probeControlWord(s, kProbeTimeoutMs, true, control)) return false;
    }
    s.bipolar = (control & control::kUnipolar.mask()) == 0 ? 1 : 0;
    const IdentifyOptions o{false, true, (p.flags & NXTKA_FLAG_DISPLAY) != 0, true};
    return identifyAfterProbe(s, o);
}

PortSession* newSession(unsigned port, const Params& p, platform::Mutex* ringMutex) {
    auto* s = new (std::nothrow) PortSession;
    if (s == nullptr) return nullptr;
    s->portNumber = port;
    s->ringMutex = ringMutex;
    s->rxBuffer.reset(new (std::nothrow) std::uint8_t[kRxBufferSize]);
    if (!s->rxBuffer || !s->ring.allocate(p.capacity)) {
        delete s;
        return nullptr;
    }
    return s;
}

// Takes the activation mutex once no release of the port is closing its
// device, or once the wait is over (the device may then still be held).
// True when the slot is free.
bool lockFreeSlot(Library& lib, PortSlot& slot) {
    const std::uint32_t start = platform::tickCount();
    for (;;) {
        lib.activationMutex().lock();
        // The slot is looked at before the flag: a release sets the flag
        // before it empties the slot and clears it only after the close.
        const bool occupied =
            slot.session.load() != nullptr || slot.apiMutex.load() != nullptr || slot.ringMutex.load() != nullptr;
        if (!slot.releasing.load() || platform::tickCount() - start >= kReleaseWaitMs) return !occupied;
        lib.activationMutex().unlock();
        platform::sleepMs(kReleasePollMs);
    }
}

std::int32_t activate(unsigned port, const Params& p) {
    Library& lib = library();
    PortSlot& slot = lib.slot(port);
    if (!lockFreeSlot(lib, slot)) {
        lib.activationMutex().unlock();
        recordFailure(Failure::AlreadyActive);
        return -1;
    }
    if (!slot.apiStore) slot.apiStore = std::make_unique<platform::Mutex>();
    if (!slot.ringStore) slot.ringStore = std::make_unique<platform::Mutex>();
    platform::Mutex* api = slot.apiStore.get();
    platform::Mutex* ring = slot.ringStore.get();
    api->lock();
    ring->lock();

    PortSession* s = newSession(port, p, ring);
    const auto failEarly = [&] {
        closeSession(s, api, ring);
        lib.activationMutex().unlock();
        return -1;
    };
    if (s == nullptr) {
        recordFailure(Failure::Device, "out of memory");
        return failEarly();
    }
    const std::string name = lib.deviceName(port);
    s->device = platform::openDevice(name);
    if (!s->device) {
        recordDeviceFailure(("cannot open " + name).c_str(), platform::lastSystemError());
        return failEarly();
    }
    waitMilliseconds(settleAfterOpenMs());
    if (!configureDevice(*s, p)) {
        recordFailure(Failure::Device, "cannot configure the line");
        return failEarly();
    }
    if ((p.flags & NXTKA_FLAG_RTSCTS) != 0 && !waitForCts(*s)) {
        recordFailure(Failure::Timeout, "no CTS from the amplifier");
        return failEarly();
    }

    s->commError = 0;
    s->stopThread = 0;
    s->discardInput = 0;
    s->holdValues = 1;
    s->heldFrames = 0;
    s->sleepMode = -1;
    s->deviceLevel = -1;
    s->optionBits = 0;
    s->firmwareVersion = 0;
    s->displayFlags = 0;
    if ((p.flags & NXTKA_FLAG_WAKEUP) != 0) s->abortEvent = std::make_unique<platform::Event>();
    if (!s->thread.start(receiveThreadMain, s, kReceiveThreadStack)) {
        recordFailure(Failure::Device, "cannot start the receive thread");
        return failEarly();
    }

    slot.session.store(s);
    lib.activationMutex().unlock();

    if (!identify(*s, p)) {
        lib.releaseSlot(port, api, ring);
        return -1;
    }
    slot.apiMutex.store(api);
    slot.ringMutex.store(ring);
    ring->unlock();
    api->unlock();
    s->holdValues = 0;
    clearFailure();  // reasons of probes that were retried do not count
    return 0;
}

}  // namespace

namespace {
std::atomic<std::uint32_t> gSettleAfterOpenMs{250};
}  // namespace

std::uint32_t settleAfterOpenMs() { return gSettleAfterOpenMs.load(); }
void setSettleAfterOpenMs(std::uint32_t ms) { gSettleAfterOpenMs = ms; }

}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL TKAactivateExtended(uint32_t port, const ActivationParams* params) {
    clearFailure();
    if (port >= kPortCount) {
        recordFailure(Failure::PortRange);
        return -1;
    }
    Params p;
    if (!readParams(params, p)) return refuseArgument("activation parameters unreadable or invalid");
    return activate(port, p);
}

NXTKA_API int32_t NXTKA_CALL TKAactivate(uint32_t port, int32_t bufferCapacity) {
    const ActivationParams p{16, bufferCapacity, 0, kDefaultBaudRate};
    return TKAactivateExtended(port, &p);
}

NXTKA_API int32_t NXTKA_CALL TKAabortActivate(uint32_t port) {
    clearFailure();
    if (port >= kPortCount) {
        recordFailure(Failure::PortRange);
        return -1;
    }
    Library& lib = library();
    lib.tableMutex().lock();
    PortSession* s = lib.slot(port).session.load();
    int32_t result = -1;
    if (s != nullptr && s->abortEvent) {
        s->abortEvent->set();
        result = 0;
    } else {
        recordFailure(Failure::NotActive, "no activation waiting for the amplifier");
    }
    lib.tableMutex().unlock();
    return result;
}

NXTKA_API void NXTKA_CALL TKArelease(uint32_t port) {
    clearFailure();
    if (port >= kPortCount) {
        recordFailure(Failure::PortRange);
        return;
    }
    Library& lib = library();
    PortSlot& slot = lib.slot(port);
    platform::Mutex* api = slot.apiMutex.load();
    platform::Mutex* ring = slot.ringMutex.load();
    if (api == nullptr || ring == nullptr || !platform::lockBoth(*api, *ring)) return;
    if (slot.session.load() == nullptr || slot.apiMutex.load() != api) {
        ring->unlock();
        api->unlock();
        return;
    }
    lib.releaseSlot(port, api, ring);
}

NXTKA_API int32_t NXTKA_CALL TKAgetLocalBaudRate(uint32_t port) {
    CommandGuard guard(port);
    if (!guard.ok()) return -1;
    platform::LineSettings ls;
    if (!guard.session().device->getLineSettings(ls)) {
        recordFailure(Failure::Device, "cannot read the line settings");
        return -1;
    }
    return static_cast<int32_t>(ls.baudRate);
}

}  // extern "C"
