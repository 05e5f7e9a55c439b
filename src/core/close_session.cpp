#include "core/activation.h"
#include "core/command_codes.h"
#include "core/command_exchange.h"
#include "core/serial_link.h"

namespace nxtka {
namespace {

using namespace cmd;

constexpr std::uint32_t kThreadPollMs = 100;

void unlockIf(platform::Mutex* m) {
    if (m != nullptr) m->unlock();
}

// Puts back on the amplifier what activation changed.
void restoreAmplifier(PortSession& s) {
    const int sleep = s.sleepMode.load();
    if ((s.optionBits.load() & kOptionSleep) != 0 && (sleep == 0 || sleep == 1)) {
        std::uint32_t mode = 0;
        if (requestValue(s, kGetSpecialMode, CommandParam::none(), mode, kAnswerTimeoutMs)) {
            sendCommandValue(s, kSetSpecialMode, (mode & ~kSpecialModeSleep) | (sleep == 1 ? kSpecialModeSleep : 0));
        }
    }
    if (s.deviceLevel.load() >= 2) {
        for (int i = 0; i < 2; ++i) {
            waitMilliseconds(10);
            sendCommand(s, kUnlockInterface);
        }
    }
}

}  // namespace

void closeSession(PortSession* s, platform::Mutex* apiMutex, platform::Mutex* ringMutex) {
    if (s == nullptr) {
        unlockIf(ringMutex);
        unlockIf(apiMutex);
        return;
    }
    if (s->device && s->thread.running()) restoreAmplifier(*s);
    if (s->dataEvent) s->dataEvent->reset();
    s->stopThread = 1;

    // Stop the receive thread: it ends after its current read, which the
    // purges end. The port mutexes go first, so that a receive thread waiting
    // for the ring to store a value can finish.
    s->discardInput = 1;
    if (s->device) s->device->purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
    unlockIf(ringMutex);
    unlockIf(apiMutex);
    while (s->device && !s->thread.join(kThreadPollMs)) s->device->purge(platform::kPurgeRxAbort);
    s->thread.join(platform::kInfinite);

    if (s->device) {
        s->device->purge(platform::kPurgeRxAbort | platform::kPurgeRxClear | platform::kPurgeTxAbort |
                         platform::kPurgeTxClear);
        s->device.reset();
    }
    s->ringMutex = nullptr;
    delete s;
}

}  // namespace nxtka
