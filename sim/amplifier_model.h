// The simulated amplifier, independent of how its bytes travel.
//
// The model takes the host's bytes with feed(), parses them into commands by
// the command table, answers through a sink callback and produces the stream
// of measured values when pump() is called. Front ends (an in-process
// VirtualLink, a pseudo-terminal) move the bytes and call pump() on time.
//
// Settings live in registers: a register is read by its get code and written
// by its set code, so a value written reads back. Commands with behaviour of
// their own have a handler; adding a command is one line in the register table
// or one small handler (see installHandlers() in amplifier_model.cpp and the
// family installers in model_*.cpp). Codes are named by the command list
// (cmd::kGetControl ...); every int code below may be given as such a name.
// The stream of value frames is in model_stream.cpp, the bytes of a frame in
// frame_encoding.h, what was received in command_record.h.
//
// The control word and the commands on its fields agree: SetGain, SetBipolar,
// SetUnipolar and SetChannel change their bits. SetFreq takes a divisor d of
// 19531.25 Hz; the control word's bits 0-10 hold it where it fits 11 bits (0
// where it does not) and GetFreq answers 2^24 - 256 d, the divisor of 5 MHz
// (so both give the same frequency). Divisors 1..2047 are taken, 1..65535
// with option bit 6 (extended divisor); others are ignored, as are gain steps
// above 7. WriteControl takes a non-zero divisor from bits 0-10 and the
// channel from bit 17 when that bit changes.
//
// Sampling rate: bits 22-23 of the ReadSamplingRate register are the
// amplifier's protocol (bit 22 factor linear, bit 23 frequency linear), from
// Config::samplingProtocol or setReg. WriteSamplingRate changes bits 0-21 only.
// At start the word carries the stream's rate where its protocol can (the
// timer protocol cannot say less than 76.3 per second; then it says 500 Hz).
//
// The stream follows the settings that shape it: values per second are the
// frequency of the last WriteSamplingRate (the factor changes nothing; an
// amplifier started with rate 0 sends values only on request, whatever the
// word says); StopTransmit and StartTransmit switch it; the polarity (control
// word bit 12) chooses the codes; the mode's text flag makes text frames of
// value x display norm (DispSetNorm, DispSetDPoint); otherwise the
// transmission mode chooses the binary frame: transmit5 (bit 3) 24-bit ',',
// else transmit4 (bit 1) '&', else repeat3 (bit 2) 0xA5, none of them 24-bit.
// The frame kind given in the settings sets those bits at start. The gain
// step changes nothing: the simulated signal is the amplified one.
//
// Settings lock: at protocol level 3 or more SetModeLock locks and records its
// 3-byte identifier, and SendId with that identifier unlocks; below level 3
// the lock is bit 7 of the mode byte, which SendId clears. The lock is
// recorded, not enforced. Switch keeps its byte (switchedOn()).
//
// Thread-safety: every public method may be called from any thread. The sink,
// the observers and handlers run with the model's (recursive) lock held, in
// output order; they may call the model's own methods but must not wait for
// another thread that does.
#pragma once

#include "command_record.h"
#include "frame_encoding.h"
#include "stream_settings.h"

#include "core/word_bits.h"

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace nxtka::sim {

// The option bits that offer commands of their own: linearization (bit 7)
// and the command test (bit 10). The other bits change how commands that are
// always there behave, and are off unless asked for.
inline constexpr std::uint32_t kOptionalCommands = options::kLinear.mask() | options::kCommandTest.mask();
// The ReadSamplingRate word: the protocol bits (22-23) and the fields a write sets.
inline constexpr std::uint64_t kSamplingProtocolBits = 0xC00000;
inline constexpr std::uint64_t kSamplingFields = 0x3FFFFF;

// Initial settings, each the answer to the named command.
struct Config {
    int level = 3;                        // protocol level; 0 answers Identify with ';'
    std::uint32_t options = kOptionalCommands;  // GetOptions
    std::uint8_t equipment = 0;           // GetEquipment
    std::uint16_t firmware = 0x0C10;      // GetFirmware
    std::uint32_t control = 0x000028;     // GetControl: bipolar, divisor 40 (when 0, GetFreq: 500 Hz)
    std::uint8_t mode = 0;                // GetMode
    std::uint8_t displayDecimalPoint = 1; // DispGetDPoint
    std::uint32_t displayNorm = 5250020;  // DispGetNorm, raw incl. bit 23
    std::uint8_t displayUnit = 0;         // DispGetUnit
    std::uint8_t displayDigits = 6;       // DispGetDigits
    std::uint16_t specialMode = 0;        // GetSpecialMode
    std::uint8_t samplingProtocol = 0;    // ReadSamplingRate bits 22-23 (0..3)
    std::uint64_t serialNumber = 0x3132333435363738ull;  // GetSerialNo ("12345678")
    std::uint8_t deviceType = 1;          // GetDeviceType
    std::uint8_t lockAnswer = 1;          // LockInterface
    std::uint8_t memoryWait = 5;          // GetMemoryWait: settling time in 2 ms steps
    bool reportUndefinedToStderr = true;
    // Told a new line speed with SetBaud, the amplifier switches to it (as a
    // real one does, once the command is in); off: it keeps its speed.
    bool followBaudChange = false;
    StreamSettings stream;
};

struct Faults {
    std::bitset<256> silent;                  // codes that get no answer
    std::array<std::uint32_t, 256> delayMs{}; // answer delay per code
    bool splitAnswers = false;                // every answer byte its own write...
    std::uint32_t splitGapMs = 2;             // ...this far apart
    std::uint32_t garbageEveryFrames = 0;     // garbage after every N value frames (0: never)
    std::vector<std::uint8_t> garbage{0x00, 0x7F, 0xFF, 0x55};
    std::uint64_t hangUpAfterFrames = 0;      // hang up once this many frames went out (0: never)
    std::bitset<1024> flipWrittenBit;         // memory addresses whose written data byte arrives with bit 0 flipped

    Faults& silence(int code) { silent.set(static_cast<std::size_t>(code & 0xFF)); return *this; }
    Faults& delay(int code, std::uint32_t ms) { delayMs[static_cast<std::size_t>(code & 0xFF)] = ms; return *this; }
};

// The adjustment procedures (Calibrate, AdjustZero, AdjustScale,
// AdjustOffset): the host sends the procedure, then the marker (GetOffset).
// The amplifier answers the marker, goes quiet for quietMs (no values,
// SingleValue only noted), then comes back: with a value frame (at level 0 by
// itself, above only once a SingleValue was asked for) or with a lone ";".
enum class AdjustmentEnd : std::uint8_t { Value, Semicolon };
struct Adjustment {
    std::uint32_t quietMs = 100;
    AdjustmentEnd end = AdjustmentEnd::Value;
    bool answerMarker = true;  // false: the marker after a procedure gets no answer
};

class AmplifierModel {
public:
    using Sink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
    // Returns the answer value (sent with the code's answer length), or
    // nothing for no answer. Runs under the model's lock.
    using Handler = std::function<std::optional<std::uint64_t>(const ReceivedCommand&)>;
    using CommandObserver = std::function<void(const ReceivedCommand&)>;

    static constexpr std::size_t kMemorySize = 1024;

    explicit AmplifierModel(Config config = {});
    ~AmplifierModel();
    AmplifierModel(const AmplifierModel&) = delete;
    AmplifierModel& operator=(const AmplifierModel&) = delete;

    // ---- wiring (front ends)
    void setSink(Sink sink);
    // Called once when a hang-up fault fires; the front end closes its side.
    void setHangUpHandler(std::function<void()> handler);
    // Called (without the lock) when something may have become due earlier
    // than the last pump() said, so a front end waiting for it wakes up.
    void setWakeHandler(std::function<void()> handler);
    // Called with the new speed in bit/s when the amplifier switches its line
    // speed (Config::followBaudChange); runs with the model's lock held.
    void setLineSpeedHandler(std::function<void(std::uint32_t baud)> handler);
    // Sees every received command (e.g. a verbose log).
    void setCommandObserver(CommandObserver observer);

    // ---- input and time
    // Bytes from the host; commands may be split across calls.
    void feed(const std::uint8_t* bytes, std::size_t count);
    void feed(const std::vector<std::uint8_t>& bytes) { feed(bytes.data(), bytes.size()); }
    // Sends what is due now (delayed or split answer bytes, stream frames) and
    // returns when the next thing falls due (time_point::max(): nothing).
    Clock::time_point pump();

    // ---- stream (model_stream.cpp)
    void emitValue();  // one value frame now, as SingleValue does
    bool transmitting() const;
    void setTransmitting(bool on);
    StreamSettings stream() const;  // as the settings have it now
    // Also sets the mode's text flag and the transmission mode's frame bits.
    void setStream(const StreamSettings& settings);
    // The waveform's value number `index` (0-based, counting every frame sent).
    double valueAt(std::uint64_t index) const;
    std::uint64_t framesSent() const;
    bool bipolar() const;  // bit 12 of the control word clear
    // A sleeping amplifier records commands but sends nothing.
    void setAsleep(bool asleep);

    // ---- faults
    Faults faults() const;
    void setFaults(const Faults& faults);
    void injectGarbage(const std::vector<std::uint8_t>& bytes);  // now
    void hangUp();     // now
    bool hungUp() const;

    // ---- measurement family (model_measurement.cpp)
    Adjustment adjustment() const;
    void setAdjustment(const Adjustment& a);
    bool adjusting() const;  // a procedure's quiet window is open
    // The norm DispCalcNorm makes the amplifier compute (DispGetNorm and
    // DispGetDPoint answer it afterwards; a negative norm sets bit 23).
    void setCalculatedNorm(double norm);
    // Range table: the 4-byte answer of GetRanges for entry first/second
    // (status byte, then the 24-bit value; bit 31 set: a special answer).
    void setRangeEntry(int first, int second, std::uint32_t answer);
    // Every entry answers 0xFFFFFFFF (no such entry).
    void clearRangeTable();
    // IsCommandAvailable answers 0xA0 for two codes of this set; without a
    // set (the default), for two defined codes.
    void setAvailableCommands(std::optional<std::bitset<256>> codes);

    // ---- state
    int level() const;
    void setLevel(int level);
    // Register by its get code (cmd::kGetControl, cmd::kGetOptions, ...).
    // setReg sets that register alone, without the commands' side effects.
    std::uint64_t reg(int getCode) const;
    void setReg(int getCode, std::uint64_t value);
    bool uiLocked() const;
    using Identifier = std::array<std::uint8_t, 3>;
    bool settingsLocked() const;       // see "Settings lock" above
    Identifier lockIdentifier() const; // the last SetModeLock's
    Identifier lastIdentifier() const; // the last SendId's
    bool switchedOn() const;           // the last Switch byte was non-zero (initially on)
    std::vector<std::uint8_t> memory() const;
    void setMemory(std::size_t address, std::uint8_t value);
    std::uint32_t rangeEntry(int selector) const;         // GetRanges / WriteRanges
    void setRangeEntry(int selector, std::uint32_t entry);
    std::uint16_t canSetting(int index) const;            // GetCanSetting / SetCanSetting
    // ---- memory family (model_memory.cpp)
    // Status bytes for the next attempts at one address (a read at its word's
    // address), used in order; kMemoryNoAnswer leaves an attempt unanswered.
    // A status outside class 0xA0 moves nothing. When they run out, the
    // memory answers as usual: status 0xA0, except word 252 in the layout
    // without a header (0xA1), and writes with the flag set are special: at
    // the flag address they store the flag byte, elsewhere they only check
    // (0xA0 while "LIN" stands at the marker address, else 0xA1). Plain
    // writes of "S" or "I" at the flag address ask whether that flag byte is
    // set (0xA0 yes, 0x5E no). In the layout with a header, the marker
    // overlays the header; clearing it with three spaces brings the header back.
    static constexpr int kMemoryNoAnswer = -1;
    void scriptMemory(std::size_t address, std::vector<int> statuses);
    // Linearization layout: described by a header at address 0, or the legacy one.
    void setLinearHeaderLayout(bool header);
    std::array<std::uint8_t, 256> userText() const;       // SetUserTextChar, by cell
    // Replaces the behaviour of one code (tests and later command families).
    void setHandler(int code, Handler handler);

    // ---- record (command_record.h)
    std::vector<ReceivedCommand> commands() const;  // the most recent kLogLimit
    std::size_t commandCount(int code) const;
    std::size_t totalCommands() const;
    std::vector<ReceivedCommand> undefinedCommands() const;
    std::size_t undefinedCount() const;
    // Defined codes that reached no handler and no register (a gap in the model).
    std::size_t unmodelledCount() const;
    // Waits until `count` commands with this code have been received in all.
    bool waitForCommand(int code, std::chrono::milliseconds timeout, std::size_t count = 1) const;
    void clearRecord();
    std::uint64_t bytesSent() const;

    static constexpr std::size_t kLogLimit = CommandRecord::kLogLimit;

    // ---- encodings (pure; frame_encoding.h)
    static std::uint32_t rawCode24(double value, bool bipolar) { return sim::rawCode24(value, bipolar); }
    static std::uint16_t rawCode16(double value, bool bipolar) { return sim::rawCode16(value, bipolar); }
    static double displayNormFactor(std::uint8_t decimalPoint, std::uint32_t normRaw) {
        return sim::displayNormFactor(decimalPoint, normRaw);
    }
    static std::vector<std::uint8_t> encodeFrame(const StreamSettings& s, double value, bool bipolar,
                                                 double normFactor) {
        return sim::encodeFrame(s, value, bipolar, normFactor);
    }

private:
    // Status byte of a range-table entry written by WriteRanges (and of the default table).
    static constexpr std::uint32_t kRangeWritten = 1;

    struct Chunk {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
        bool endsAnswer;  // false: more bytes of the same answer follow
    };

    void installHandlers();
    // One installer per command family, each in its own file (model_*.cpp).
    void installMeasurementHandlers();
    void installTransmissionHandlers();
    void installMemoryHandlers();
    void on(int code, Handler handler);
    std::uint64_t& regAt(int getCode);
    void handleCommand(ReceivedCommand cmd);
    std::vector<std::uint8_t> answerFrame(std::uint8_t code, std::uint64_t value) const;
    void queueAnswer(std::uint8_t code, std::vector<std::uint8_t> frame);
    void emit(const std::uint8_t* bytes, std::size_t count);
    void emit(const std::vector<std::uint8_t>& bytes) { emit(bytes.data(), bytes.size()); }
    void sendValueFrame();
    void flushDue(Clock::time_point now);
    void streamDue(Clock::time_point now);
    Clock::time_point nextDue() const;
    bool streamRunning() const;
    void restartStream(Clock::time_point now);
    FrameKind frameKindBySettings() const;
    void showFrameKind(FrameKind kind);  // sets the mode and transmission bits that ask for it
    void followSamplingRate(double frequency);
    void hangUpLocked();
    void wake();
    void setDivisor(std::uint64_t divisor);
    void writeControl(std::uint64_t word);
    bool extendedDivisor() const;

    mutable std::recursive_mutex mu_;
    mutable std::condition_variable_any commandCv_;

    Config config_;
    Faults faults_;
    Sink sink_;
    std::function<void()> hangUpHandler_;
    std::function<void()> wakeHandler_;
    std::function<void(std::uint32_t)> lineSpeedHandler_;
    CommandObserver observer_;

    std::array<Handler, 256> handlers_;
    std::array<std::uint64_t, 256> regs_{};       // by get code
    std::array<std::int16_t, 256> setTarget_{};   // set code -> get code, -1 none
    std::bitset<256> readable_;                   // get codes of registers
    std::vector<std::uint8_t> memory_;
    std::array<std::uint32_t, 256> ranges_{};
    std::array<std::uint16_t, 256> can_{};
    bool uiLocked_ = false;
    bool settingsLocked_ = false;  // protocol level 3 or more
    Identifier lockIdentifier_{};
    Identifier lastIdentifier_{};
    std::uint8_t switch_ = 1;
    bool asleep_ = false;
    bool hungUp_ = false;

    // ---- state of the measurement family (model_measurement.cpp)
    void adjustmentDue(Clock::time_point now);  // ends a quiet window that is due
    Adjustment adjustment_;
    int procedure_ = -1;                                        // awaiting its marker
    int quietProcedure_ = -1;                                   // whose window is open
    Clock::time_point quietUntil_ = Clock::time_point::max();  // max: no window
    bool quietTransmitting_ = false;                            // transmission before the window
    bool valueRequested_ = false;                               // SingleValue during the window
    double calculatedNorm_ = 1000.0;
    std::optional<std::bitset<256>> available_;

    // ---- state of the transmission family (model_transmission.cpp)
    std::array<std::uint8_t, 256> userText_{};

    // ---- state of the memory family (model_memory.cpp)
    std::map<std::size_t, std::deque<int>> memoryScript_;
    bool linearHeaderLayout_ = false;
    std::optional<int> nextMemoryStatus(std::size_t address);
    bool linearMarkerPresent() const;
    std::size_t linearFlagAddress() const;
    std::array<std::uint8_t, 3> savedHeader_{};
    bool headerSaved_ = false;
    void writeMemoryCell(std::size_t address, std::uint8_t data);

    // parser
    bool inCommand_ = false;
    ReceivedCommand partial_;
    std::size_t want_ = 0;

    // output
    std::deque<Chunk> pending_;
    bool midAnswer_ = false;
    std::uint64_t bytesSent_ = 0;

    // stream (model_stream.cpp)
    bool transmitting_ = true;
    Clock::time_point streamEpoch_;
    std::uint64_t streamCount_ = 0;  // frames of the running stream since its epoch
    std::uint64_t framesSent_ = 0;   // all value frames, indexes the waveform

    CommandRecord record_;
};

}  // namespace nxtka::sim
