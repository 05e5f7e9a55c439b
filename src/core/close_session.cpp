#include "core/activation.h"
#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_exchange.h"
#include "core/serial_link.h"
#include "core/sleep_bit.h"

namespace nxtka {
namespace {

using namespace cmd;

constexpr std::uint32_t kThreadPollMs = 100;

void unlockIf(platform::Mutex* m) {
    if (m != nullptr) m->unlock();
}

// Puts back on the amplifier what activation changed.
void restoreAmplifier(PortSession& s) {
    sleepbit::restore(s);
    if (s.deviceLevel.load() >= 2) {
        for (int i = 0; i < 2; ++i) {
            waitMilliseconds(10);
            sendCommand(s, kUnlockInterface);
        }
    }
}

// An asynchronous write that was never synchronised: end it, so that the line
// is free for the restore, and give up the extra ownership of the command
// mutex that it kept. A caller that owns the mutex while a write is
// outstanding is the thread that started it, so that ownership is its own.
void endOutstandingWrite(PortSession& s, platform::Mutex* apiMutex) {
    if (s.linkState.load() != kLinkAsyncWrite) return;
    if (s.device) {
        s.device->purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
        std::uint32_t transferred = 0;
        s.device->waitWrite(transferred);
    }
    s.linkState = kLinkReady;
    unlockIf(apiMutex);
}

}  // namespace

void closeSession(PortSession* s, platform::Mutex* apiMutex, platform::Mutex* ringMutex) {
    if (s == nullptr) {
        unlockIf(ringMutex);
        unlockIf(apiMutex);
        return;
    }
    endOutstandingWrite(*s, apiMutex);
    if (s->device && s->thread.running()) {
        // The closing thread may hold the ring while it waits for the answer
        // to 137: values are held, so the receive thread does not wait for the
        // ring and parses the answer that comes behind them.
        s->holdValues = 1;
        restoreAmplifier(*s);
    }
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
