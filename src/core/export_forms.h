// The shapes every exported command function of the families is built from:
// an export is its argument checks plus one call of one of these.
//
// All forms return the export's own result: -1 (or -1.0) on failure, else the
// answer or 0. Argument checks that the forms make themselves (setChecked,
// setInRange) come before the port is looked at and before any mutex.
#pragma once

#include "core/command_exchange.h"
#include "core/last_failure.h"
#include "core/port_guard.h"
#include "core/serial_link.h"
#include "core/speed_tables.h"
#include "core/word_bits.h"
#include "stream/stream_control.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace nxtka {

// A command sent alone: no parameter bytes and no answer frame.
struct PlainCommand {
    int code;
    consteval PlainCommand(Command c) : code(c.code) {  // NOLINT(google-explicit-constructor)
        if (c.paramBytes != 0 || c.answerBytes != 0) throw "this code is not sent alone";
    }
};

// A command whose parameter is a byte array given by the caller (identifiers).
struct ByteArrayCommand {
    int code;
    consteval ByteArrayCommand(Command c) : code(c.code) {  // NOLINT(google-explicit-constructor)
        if (c.paramBytes < 3 || c.answerBytes != 0) throw "this code takes no byte array";
    }
};

// ---- getters

// A getter: the answer as the result, or -1.
std::int32_t guardedGet(unsigned port, IntQuery query);
// A getter with a parameter (an index, a code): the answer as the result.
std::int32_t guardedGet(unsigned port, IntQuery query, std::uint32_t param);

// A getter that decodes its answer, or refreshes a session cache from it,
// under the guard: decode(session, word) gives the result. Failure gives -1
// of the result's type (-1.0 for a double).
template <class Decode>
auto guardedQuery(unsigned port, WordQuery query, Decode decode) {
    using Result = decltype(decode(std::declval<PortSession&>(), std::uint32_t{}));
    CommandGuard guard(port);
    if (!guard.ok()) return Result(-1);
    std::uint32_t word = 0;
    if (!requestValue(guard.session(), query, CommandParam::none(), word)) return Result(-1);
    return decode(guard.session(), word);
}

// Work that needs the session (its polarity, its level, its caches) under
// the guard: work(session) gives the result; -1 when the guard fails.
template <class Work>
auto underGuard(unsigned port, Work work) {
    using Result = decltype(work(std::declval<PortSession&>()));
    CommandGuard guard(port);
    if (!guard.ok()) return Result(-1);
    return work(guard.session());
}

// A getter of a word the session keeps a copy or a part of: keep(session,
// word) refreshes it; the word is the result.
template <class Keep>
std::int32_t guardedGetKeeping(unsigned port, WordQuery query, Keep keep) {
    return guardedQuery(port, query, [&](PortSession& s, std::uint32_t word) {
        keep(s, word);
        return static_cast<std::int32_t>(word);
    });
}

// A getter that decodes its answer into the caller's *out: decode(session,
// word) gives the value. 0 or -1 (out untouched). The export checks out.
template <class Out, class Decode>
std::int32_t guardedQueryInto(unsigned port, WordQuery query, Out* out, Decode decode) {
    return guardedQuery(port, query, [&](PortSession& s, std::uint32_t word) -> std::int32_t {
        *out = decode(s, word);
        return 0;
    });
}

// A getter whose answer may stand for no value: decode(word) gives the value
// or nothing. Nothing is the answer's failure `why` (recorded with the word)
// and -1 of the value's type (-1.0 for a double).
template <class Decode>
auto guardedQueryChecked(unsigned port, WordQuery query, const char* why, Decode decode) {
    using Value = typename decltype(decode(std::uint32_t{}))::value_type;
    return guardedQuery(port, query, [&](PortSession&, std::uint32_t word) {
        const auto value = decode(word);
        if (!value) recordAnswerFailure(why, word);
        return value.value_or(Value(-1));
    });
}
// guardedQueryChecked into the caller's *out: 0, or -1 (out untouched). The
// export checks out.
template <class Out, class Decode>
std::int32_t guardedQueryCheckedInto(unsigned port, WordQuery query, Out* out, const char* why, Decode decode) {
    return guardedQuery(port, query, [&](PortSession&, std::uint32_t word) -> std::int32_t {
        const auto value = decode(word);
        if (!value) {
            recordAnswerFailure(why, word);
            return -1;
        }
        *out = *value;
        return 0;
    });
}

// A getter of a value newer amplifiers answer by a query of their own:
// where has(session) says so, the query's answer decoded by decode(word);
// else older(port), the value taken from another word (a field of the
// control word). -1 of the result's type on failure.
template <class Has, class Decode, class Older>
auto guardedQueryOr(unsigned port, Has has, WordQuery query, Decode decode, Older older) {
    using Result = decltype(older(port));
    return underGuard(port, [&](PortSession& s) -> Result {
        if (!has(static_cast<const PortSession&>(s))) return older(port);
        std::uint32_t word = 0;
        return requestValue(s, query, CommandParam::none(), word) ? Result(decode(word)) : Result(-1);
    });
}

// A bit or field of a word a getter returned; a failure (-1) passes through.
constexpr std::int32_t fieldOf(std::int32_t word, Field field) {
    if (word < 0) return word;
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(word) & field.mask()) >> field.shift);
}
// A value decoded from a word a getter returned, where decode(word) may give
// nothing: then the answer's failure `why` (recorded with the word). -1 of
// the value's type for nothing or a failure passed through.
template <class Decode>
auto decodedOf(std::int32_t word, Decode decode, const char* why) {
    using Value = typename decltype(decode(std::uint32_t{}))::value_type;
    if (word < 0) return Value(-1);
    const auto value = decode(static_cast<std::uint32_t>(word));
    if (!value) recordAnswerFailure(why, static_cast<std::uint32_t>(word));
    return value.value_or(Value(-1));
}
// 1 when the bit is clear, 0 when set; a failure passes through.
constexpr std::int32_t clearBitOf(std::int32_t word, Field bit) {
    return word < 0 ? word : 1 - fieldOf(word, bit);
}

// A speed that travels as its position in `table` (speed_tables.h): the
// rate at the position a getter returned. A failure passes through; a
// position the table does not hold is the answer's failure `why` (-1).
template <std::size_t N>
std::int32_t rateAtPosition(const std::array<std::int32_t, N>& table, std::int32_t position, const char* why) {
    if (position < 0) return position;
    const std::int32_t rate = speeds::rateAt(table, position);
    if (rate < 0) recordAnswerFailure(why, static_cast<std::uint32_t>(position));
    return rate;
}

// ---- argument checks

// For an export's own argument check: records "argument refused" with `why`
// as the calling thread's last failure and returns -1.
std::int32_t refuseArgument(const char* why);

// ---- setters

// Value checked against lo..hi before the port; then sent. 0 or -1.
std::int32_t setInRange(unsigned port, ValueCommand command, std::int64_t value, std::int64_t lo,
                        std::int64_t hi);
// Value checked against what the code's parameter bytes can carry
// (0..2^(8 x paramBytes) - 1) before the port; then sent. 0 or -1.
std::int32_t setChecked(unsigned port, ValueCommand command, std::int64_t value);
// No check: the low-order bytes the parameter takes are sent. 0 or -1.
std::int32_t setLowBytes(unsigned port, ValueCommand command, std::uint32_t value);

// An argument encoded for its parameter (a codec's ...Raw or ...Word):
// nothing when it is outside what the encoding carries, refused with `why`
// before the port; else sent. 0 or -1.
std::int32_t setEncoded(unsigned port, ValueCommand command, std::optional<std::uint32_t> raw, const char* why);

// An argument encoded with what the session knows (its polarity, its level)
// under the guard, so refused after the port checks: encode(session) gives
// the parameter or nothing (refused with `why`). 0 or -1.
template <class Encode>
std::int32_t setEncodedInSession(unsigned port, ValueCommand command, const char* why, Encode encode) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        const std::optional<std::uint32_t> raw = encode(static_cast<const PortSession&>(s));
        if (!raw) return refuseArgument(why);
        return sendSetting(s, command, *raw) ? 0 : -1;
    });
}
// The polarity an encoding of the normalized scale takes: true for bipolar.
inline bool bipolarOf(const PortSession& s) { return s.bipolar.load() != 0; }

// A speed given as a rate and sent as its position in `table`: a rate the
// table does not hold is refused with `why` before the port; else
// setPosition(port, position) sends it.
template <std::size_t N, class SetPosition>
std::int32_t setByPosition(unsigned port, const std::array<std::int32_t, N>& table, std::int32_t rate,
                           const char* why, SetPosition setPosition) {
    const std::int32_t position = speeds::positionOf(table, rate);
    return position < 0 ? refuseArgument(why) : setPosition(port, position);
}

// A value sent as it is (its low bytes); after it was written,
// after(session) updates the session's copy of it.
template <class After>
std::int32_t setLowBytesThen(unsigned port, ValueCommand command, std::uint32_t value, After after) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (!sendSetting(s, command, value)) return -1;
        after(s);
        return 0;
    });
}

// The code alone. 0 or -1.
std::int32_t sendAlone(unsigned port, PlainCommand command);
// The code alone; after it was written, after(session) updates a cache.
template <class After>
std::int32_t sendAloneThen(unsigned port, PlainCommand command, After after) {
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (!sendCommand(s, command.code)) return -1;
        after(s);
        return 0;
    });
}

// The code and the caller's bytes (as many as the code takes), paced by
// delayMs before every byte when not 0. A null array is refused unsent: the
// amplifier would take the next commands' bytes as its parameters.
bool sendByteArray(PortSession& s, ByteArrayCommand command, const std::uint8_t* bytes,
                   std::uint32_t delayMs = 0);
std::int32_t sendByteArray(unsigned port, ByteArrayCommand command, const std::uint8_t* bytes,
                           std::uint32_t delayMs = 0);

// Read-modify-write of one field of a word through the exports that read and
// write the whole word. The port's command mutex is held across both, so no
// other thread's command comes between; the nested exports take it again.
template <class Get, class Set>
std::int32_t setField(unsigned port, Get get, Set set, Field field, std::uint32_t value) {
    CommandGuard hold(port);
    if (!hold.ok()) return -1;
    const std::int32_t word = get(port);
    if (word < 0) return -1;
    const std::uint32_t changed =
        (static_cast<std::uint32_t>(word) & ~field.mask()) | ((value << field.shift) & field.mask());
    return set(port, static_cast<std::int32_t>(changed));
}
// One flag of a word: set when `on` is non-zero, cleared when 0.
template <class Get, class Set>
std::int32_t setFlag(unsigned port, Get get, Set set, Field bit, std::int32_t on) {
    return setField(port, get, set, bit, on != 0 ? 1u : 0u);
}

// The getter and the setter of one flag of a word, as exports: get<name>
// reads the word's field, set<name> changes it alone. A word's flags are one
// table of rows X(name, field) expanded with this.
#define NXTKA_FLAG_EXPORTS(getWord, setWord, name, field)                                      \
    NXTKA_API int32_t NXTKA_CALL TKAset##name(uint32_t port, int32_t on) {                     \
        return nxtka::setFlag(port, getWord, setWord, field, on);                              \
    }                                                                                          \
    NXTKA_API int32_t NXTKA_CALL TKAget##name(uint32_t port) { return nxtka::fieldOf(getWord(port), field); }

// A procedure: the amplifier adjusts itself. Values measured before are
// dropped, none are stored meanwhile, and the next value frame (or a lone
// ";") shows that it is back. 1 back, 0 not back within the wait, -1
// failure (also a line that fails while it waits).
std::int32_t runProcedure(unsigned port, PlainCommand procedure);

// Holds the value stream back for a scope; always lets it go again.
class HeldValues {
public:
    explicit HeldValues(PortSession& s) : s_(s) { s_.holdValues = 1; }
    ~HeldValues() { s_.holdValues = 0; }
    HeldValues(const HeldValues&) = delete;
    HeldValues& operator=(const HeldValues&) = delete;

private:
    PortSession& s_;
};

// ---- settings written with the value stream held back

// A setting's read-back: read() once; when it or the write failed, again()
// once more (so the session's copy follows the amplifier) and false; else
// check() says whether the amplifier holds what was written.
template <class Read, class Again, class Check>
bool readBack(bool written, Read read, Again again, Check check) {
    if (read() != -1 && written) return check();
    again();
    return false;
}

// A setter with the value stream held back: write() gives its success; the
// values measured meanwhile are dropped at the end, and a marker that is not
// answered turns success into failure. A setter that has already failed
// keeps its own reason. 0 or -1.
template <class Write>
std::int32_t heldWrite(PortSession& s, Write write) {
    constexpr std::uint32_t kDrainWaitMs = 5000;
    const HeldValues held(s);
    const bool success = write();
    if (!success) {
        const KeptFailure reason;
        drainValues(s, kDrainWaitMs);
        return -1;
    }
    return drainValues(s, kDrainWaitMs) != -1 ? 0 : -1;
}

// heldWrite under both guards of a setting that is sent and read back:
// send(session) gives whether it was sent, read(session) reads it back (-1
// on failure; again after a failure), check(session) says whether it holds
// what was written. 0 or -1.
template <class Send, class Read, class Check>
std::int32_t heldWriteReadBack(unsigned port, Send send, Read read, Check check) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    return heldWrite(s, [&] {
        const bool sent = send(s);
        const auto readIt = [&] { return read(s); };
        return readBack(sent, readIt, readIt, [&] { return check(static_cast<const PortSession&>(s)); });
    });
}

}  // namespace nxtka
