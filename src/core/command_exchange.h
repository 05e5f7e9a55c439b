// One command and its answer: the caller marks the command as pending and
// says where the answer goes, sends, and waits; the receive thread fills the
// answer in and signals. Both sides change the pending command and the answer
// slot only under the session's answerLock, so an answer that arrives after
// the caller gave up never writes into storage that is no longer waiting.
#pragma once

#include "core/command_table.h"
#include "core/session.h"

#include <cstdint>

namespace nxtka {

// A query whose answer fits one 32-bit word (1 to 4 answer bytes). Made only
// from a constant code, so a code with a longer answer does not compile.
struct WordQuery {
    int code;
    consteval WordQuery(Command c) : code(c.code) { check(c.answerBytes); }  // NOLINT(google-explicit-constructor)
    consteval WordQuery(int c) : code(c) { check(answerBytesOf(c)); }        // NOLINT(google-explicit-constructor)

private:
    static consteval void check(int answerBytes) {
        if (answerBytes < 1 || answerBytes > 4) throw "the answer of this code does not fit a 32-bit word";
    }
};

// A query whose answer is returned as a non-negative integer result (1 to 3
// answer bytes, so -1 stays free for failure).
struct IntQuery {
    int code;
    consteval IntQuery(Command c) : code(c.code) { check(c.answerBytes); }  // NOLINT(google-explicit-constructor)
    consteval IntQuery(int c) : code(c) { check(answerBytesOf(c)); }        // NOLINT(google-explicit-constructor)

private:
    static consteval void check(int answerBytes) {
        if (answerBytes < 1 || answerBytes > 3) throw "the answer of this code does not fit the integer result";
    }
};

inline constexpr std::uint32_t kAnswerTimeoutMs = 1000;
inline constexpr std::uint32_t kProbeTimeoutMs = 5000;

// How a command is put on the wire.
struct CommandParam {
    enum Kind { None, Value, Bytes } kind = None;
    std::uint32_t value = 0;
    const std::uint8_t* bytes = nullptr;
    std::uint32_t delayMs = 0;

    static CommandParam none() { return {}; }
    static CommandParam of(std::uint32_t v) { return {Value, v, nullptr, 0}; }
    static CommandParam raw(const std::uint8_t* b, std::uint32_t delay = 0) { return {Bytes, 0, b, delay}; }
};

// How long the next command waits for the late answer of one that timed out.
// An answer comes within milliseconds; one that overran the 1000 ms time-out
// and is not there a quarter second later is taken as lost, so a line that
// loses answers pays little more than its time-outs.
inline constexpr std::uint32_t kLateAnswerWindowMs = 250;

// 0 when the answer event was set or the time-out passed; the session's read
// error (recorded as the calling thread's reason) when the line has failed,
// without waiting when that was known before, and at once when it fails
// during the wait.
std::uint32_t waitAnswer(PortSession& s, std::uint32_t timeoutMs);

// Sends `code` and waits for its answer into `slot` (at least 4 bytes, or the
// answer length when larger). True when the answer arrived in time. A value
// parameter for an undefined code, or for a code with more than 4 parameter
// bytes, is refused unsent.
bool requestAnswer(PortSession& s, int code, const CommandParam& param, void* slot, std::uint32_t timeoutMs);

// requestAnswer for answers of up to 4 bytes, decoded as an unsigned
// big-endian number.
bool requestValue(PortSession& s, WordQuery query, const CommandParam& param, std::uint32_t& value,
                  std::uint32_t timeoutMs = kAnswerTimeoutMs);

// The decoded value of an answer word (answer bytes at its high-order end).
inline std::uint32_t answerValue(std::uint32_t word, int answerBytes) {
    return answerBytes <= 0 ? 0 : answerBytes >= 4 ? word : word >> (8 * (4 - answerBytes));
}

// ---- the receive thread's half

// After a command timed out, its answer may still come and would then be
// taken as the answer of the next one (the protocol does not say which
// command an answer belongs to). Waits for that late answer, which is dropped,
// or for kLateAnswerWindowMs without it; returns at once when none is expected.
void awaitLateAnswer(PortSession& s);
// Marks `code` as awaited with its answer going to `slot`; resets the answer
// event. Waits for a late answer first.
void beginExchange(PortSession& s, int code, void* slot);
// Ends the exchange: true when the answer arrived (and `waitFailed` is false).
// Afterwards no command is pending; a command with answer bytes that was not
// answered in time is remembered as one whose answer may come late.
bool endExchange(PortSession& s, bool waitFailed);

// An answer frame for `code` parsed by the receive thread (see FrameSink).
void completeAnswer(PortSession& s, int code, const std::uint8_t* bytes, int count, int level);
// A value frame completes a pending command that has no answer bytes.
void completeByValueFrame(PortSession& s);

}  // namespace nxtka
