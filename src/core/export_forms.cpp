#include "core/export_forms.h"

#include "core/answer_wait.h"
#include "core/device_rules.h"
#include "core/last_failure.h"
#include "stream/stream_control.h"

#include <string>

namespace nxtka {

static std::int32_t get(unsigned port, IntQuery query, const CommandParam& param) {
    CommandGuard guard(port);
    if (!guard.ok()) return -1;
    std::uint32_t word = 0;
    if (!requestAnswer(guard.session(), query.code, param, &word, kAnswerTimeoutMs)) return -1;
    return static_cast<std::int32_t>(answerValue(word, answerBytesOf(query.code)));
}

std::int32_t guardedGet(unsigned port, IntQuery query) { return get(port, query, CommandParam::none()); }
std::int32_t guardedGet(unsigned port, IntQuery query, std::uint32_t param) {
    return get(port, query, CommandParam::of(param));
}

std::int32_t refuseArgument(const char* why) {
    clearFailure();
    recordFailure(Failure::Argument, why);
    return -1;
}

std::int32_t setInRange(unsigned port, ValueCommand command, std::int64_t value, std::int64_t lo,
                        std::int64_t hi) {
    if (value < lo || value > hi) {
        clearFailure();
        const std::string range = std::to_string(value) + " outside " + std::to_string(lo) + ".." + std::to_string(hi);
        recordFailure(Failure::Argument, range.c_str());
        return -1;
    }
    return setLowBytes(port, command, static_cast<std::uint32_t>(value));
}

std::int32_t setChecked(unsigned port, ValueCommand command, std::int64_t value) {
    const int bytes = paramBytesOf(command.code);
    return setInRange(port, command, value, 0, (std::int64_t{1} << (8 * bytes)) - 1);
}

std::int32_t setLowBytes(unsigned port, ValueCommand command, std::uint32_t value) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t { return sendSetting(s, command, value) ? 0 : -1; });
}

std::int32_t setEncoded(unsigned port, ValueCommand command, std::optional<std::uint32_t> raw, const char* why) {
    return raw ? setLowBytes(port, command, *raw) : refuseArgument(why);
}

std::int32_t sendAlone(unsigned port, PlainCommand command) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t { return sendCommand(s, command.code) ? 0 : -1; });
}

std::int32_t runProcedure(unsigned port, PlainCommand procedure) {
    constexpr std::uint32_t kProcedureWaitMs = 5000;
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    if (!sendCommand(s, procedure.code)) return -1;
    const int drained = drainValues(s, kProcedureWaitMs);
    const HeldValues held(s);
    if (drained == -1) return -1;
    std::uint32_t slot = 0;
    beginExchange(s, procedure.code, &slot);
    if (rules::requestsValueAfterAdjustment(s)) sendCommand(s, cmd::kSingleValue);
    const bool lineFailed = waitAnswer(s, kProcedureWaitMs) != 0;
    if (endExchange(s, lineFailed)) return 1;
    return lineFailed ? -1 : 0;
}

bool sendByteArray(PortSession& s, ByteArrayCommand command, const std::uint8_t* bytes, std::uint32_t delayMs) {
    if (bytes == nullptr) return refuseArgument("null byte array") == 0;
    return sendCommand(s, command.code, bytes, delayMs);
}

std::int32_t sendByteArray(unsigned port, ByteArrayCommand command, const std::uint8_t* bytes,
                           std::uint32_t delayMs) {
    if (bytes == nullptr) return refuseArgument("null byte array");
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        return sendByteArray(s, command, bytes, delayMs) ? 0 : -1;
    });
}

}  // namespace nxtka
