// Everything known about one active port. A session is created by activation
// and freed only by the close routine; the port table owns it meanwhile.
//
// Which thread touches what:
// - receive thread only: rx*, the device's read side;
// - under the ring mutex: ring, the creation of dataEvent;
// - under answerLock: pendingCommand changes, answerSlot (see command_exchange);
// - flags polled across threads are atomics;
// - identification caches are written by activation, re-identification and
//   the setters under the command mutex, and read by value conversion under
//   the ring mutex, hence atomics too.
#pragma once

#include "core/command_table.h"
#include "platform/platform.h"
#include "stream/sample_ring.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace nxtka {

inline constexpr std::uint32_t kRxBufferSize = 32768;
inline constexpr std::uint32_t kTxQueueSize = 256;

// linkState values
inline constexpr int kLinkReady = 1;
inline constexpr int kLinkAsyncWrite = 2;

struct PortSession {
    unsigned portNumber = 0;

    // ---- ring (under ringMutex)
    SampleRing ring;
    platform::Mutex* ringMutex = nullptr;
    std::unique_ptr<platform::Event> dataEvent;  // pollable; created on request
    bool failureReported = false;                 // a read has returned -1 for the failed line

    // ---- receive thread's buffer
    std::unique_ptr<std::uint8_t[]> rxBuffer;
    std::uint32_t rxBufferSize = kRxBufferSize;
    std::uint32_t rxKept = 0;
    std::uint32_t rxRead = 0;
    std::uint32_t rxWant = 0;

    // ---- device and thread
    std::unique_ptr<platform::SerialDevice> device;
    platform::Event answerEvent;
    platform::Event readEvent;                    // a read completed (while wakeWaiting)
    std::unique_ptr<platform::Event> abortEvent;  // only with the wake-up flag
    platform::Thread thread;
    std::atomic<bool> wakeWaiting{false};

    // ---- flags shared with the receive thread
    std::atomic<std::uint32_t> stopThread{0};
    std::atomic<std::uint32_t> discardInput{0};
    std::atomic<std::uint32_t> holdValues{1};
    std::atomic<std::uint32_t> heldFrames{0};
    std::atomic<std::uint32_t> commError{0};
    // A text frame kept open by the receive thread: the tick of its newest
    // byte (0: none), and a waiting command's request to give it up.
    std::atomic<std::uint32_t> textHeldSince{0};
    std::atomic<bool> giveUpHeldText{false};

    // ---- command exchange
    std::mutex answerLock;
    std::atomic<int> pendingCommand{kNoCommand};
    void* answerSlot = nullptr;  // under answerLock
    // A command that timed out after it was sent: its answer may still come
    // (kNoCommand: none expected). Changed under answerLock.
    std::atomic<int> lateCommand{kNoCommand};

    // ---- link state (under the command mutex)
    std::atomic<int> linkState{kLinkReady};
    int asyncWriteResult = -1;
    int asyncWriteLength = 0;

    // ---- identification and conversion state
    std::atomic<int> bipolar{0};
    std::atomic<int> deviceLevel{-1};
    std::atomic<int> optionBits{0};
    std::atomic<int> firmwareVersion{0};
    std::atomic<int> sleepMode{-1};
    std::atomic<std::uint32_t> displayNormRaw{0};
    std::atomic<int> displayDecimalPoint{0};
    std::atomic<double> displayNorm{0.0};
    std::atomic<int> displayFlags{0};
    std::atomic<int> samplingProtocol{-1};
    std::atomic<int> flushSupported{1};
};

// Under the ring mutex: whether the data event is to be signalled, which it
// is exactly while values wait or a failure of the line waits to be reported
// by a read.
inline bool dataEventDue(const PortSession& s) {
    return s.ring.count() != 0 || (s.commError.load() != 0 && !s.failureReported);
}

inline void settleDataEvent(PortSession& s) {
    if (!s.dataEvent) return;
    if (dataEventDue(s)) {
        s.dataEvent->set();
    } else {
        s.dataEvent->reset();
    }
}

}  // namespace nxtka
