#include "core/command_exchange.h"

#include "core/answer_wait.h"
#include "core/last_failure.h"
#include "core/port_guard.h"
#include "core/serial_link.h"

#include <cstring>

namespace nxtka {

std::uint32_t waitAnswer(PortSession& s, std::uint32_t timeoutMs) {
    std::uint32_t error = s.commError.load();
    // The receive thread stores its read error before it wakes the waiter.
    if (error == 0) {
        waitAnswerEvent(s, timeoutMs);
        error = s.commError.load();
    }
    if (error != 0) recordDeviceFailure("device failed while reading", error);
    return error;
}

void awaitLateAnswer(PortSession& s) {
    std::uint8_t dropped[8] = {};  // the longest answer
    {
        std::lock_guard<std::mutex> lock(s.answerLock);
        const int late = s.lateCommand.exchange(kNoCommand);
        if (late == kNoCommand) return;
        s.answerSlot = dropped;
        s.pendingCommand.store(late);
    }
    s.answerEvent.reset();
    waitAnswer(s, kLateAnswerWindowMs);
    std::lock_guard<std::mutex> lock(s.answerLock);
    s.pendingCommand.store(kNoCommand);
    s.answerSlot = nullptr;
}

void beginExchange(PortSession& s, int code, void* slot) {
    awaitLateAnswer(s);
    {
        std::lock_guard<std::mutex> lock(s.answerLock);
        s.answerSlot = slot;
        s.pendingCommand.store(code);
    }
    s.answerEvent.reset();
}

bool endExchange(PortSession& s, bool waitFailed) {
    std::lock_guard<std::mutex> lock(s.answerLock);
    const int pending = s.pendingCommand.load();
    const bool answered = !waitFailed && pending == kNoCommand;
    // Sent and not answered in time: its answer may still be on its way.
    if (!waitFailed && pending != kNoCommand && answerBytesOf(pending) > 0) s.lateCommand.store(pending);
    s.pendingCommand.store(kNoCommand);
    s.answerSlot = nullptr;
    return answered;
}

static bool send(PortSession& s, int code, const CommandParam& param) {
    switch (param.kind) {
    case CommandParam::Value:
        return sendCommand(s, code, lowBytes(param.value, paramBytesOf(code)).data());
    case CommandParam::Bytes:
        return sendCommand(s, code, param.bytes, param.delayMs);
    default:
        return sendCommand(s, code);
    }
}

bool requestAnswer(PortSession& s, int code, const CommandParam& param, void* slot, std::uint32_t timeoutMs) {
    if (param.kind == CommandParam::Value && !isDefinedCommand(code)) {  // writes nothing at all
        recordFailure(Failure::Argument, "undefined command code");
        return false;
    }
    if (param.kind == CommandParam::Value && paramBytesOf(code) > 4) {
        recordFailure(Failure::Argument, "the code takes more than 4 parameter bytes");
        return false;
    }
    beginExchange(s, code, slot);
    bool waitFailed = true;  // a failed send recorded its reason
    if (send(s, code, param)) waitFailed = waitAnswer(s, timeoutMs) != 0;
    const bool answered = endExchange(s, waitFailed);
    if (!answered && !waitFailed) recordFailure(Failure::Timeout);
    return answered;
}

bool requestValue(PortSession& s, WordQuery query, const CommandParam& param, std::uint32_t& value,
                  std::uint32_t timeoutMs) {
    const int answerBytes = answerBytesOf(query.code);
    std::uint32_t word = 0;
    if (!requestAnswer(s, query.code, param, &word, timeoutMs)) return false;
    value = answerValue(word, answerBytes);
    return true;
}

void completeAnswer(PortSession& s, int code, const std::uint8_t* bytes, int count, int level) {
    std::lock_guard<std::mutex> lock(s.answerLock);
    const int pending = s.pendingCommand.load();
    if (pending == kNoCommand) {
        // The late answer of a command that timed out: its bytes are taken
        // off the line and dropped, and the next command need not wait for it.
        if (code == s.lateCommand.load()) s.lateCommand.store(kNoCommand);
        return;
    }
    // The frame was sized for `code`; a command that became pending meanwhile
    // takes it only if its answer has the same length.
    if (pending != code && answerBytesOf(pending) != count) return;
    if (s.answerSlot == nullptr) {
        // only commands without answer bytes are sent without a slot
    } else if (count <= 4) {
        std::uint32_t word = 0;
        for (int i = 0; i < count; ++i) word |= std::uint32_t{bytes[i]} << (8 * (3 - i));
        std::memcpy(s.answerSlot, &word, sizeof word);
    } else {
        std::memcpy(s.answerSlot, bytes, static_cast<std::size_t>(count));
    }
    if (level >= 0 && pending == cmd::kIdentify) s.deviceLevel.store(level);
    s.pendingCommand.store(kNoCommand);
    s.answerEvent.set();
}

void completeByValueFrame(PortSession& s) {
    const int seen = s.pendingCommand.load(std::memory_order_relaxed);
    if (seen == kNoCommand || answerBytesOf(seen) != 0) return;
    std::lock_guard<std::mutex> lock(s.answerLock);
    const int pending = s.pendingCommand.load();
    if (pending == kNoCommand || answerBytesOf(pending) != 0) return;
    s.pendingCommand.store(kNoCommand);
    s.answerEvent.set();
}

}  // namespace nxtka
