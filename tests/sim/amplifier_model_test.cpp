// The amplifier model on byte vectors: no threads, no devices.
#include "amplifier_model.h"

#include "core/command_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nxtka::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A model whose output is collected; every sink call is one write.
struct Bench {
    explicit Bench(Config cfg = quietConfig()) : model(std::move(cfg)) {
        model.setSink([this](const std::uint8_t* p, std::size_t n) {
            writes.emplace_back(p, p + n);
            out.insert(out.end(), p, p + n);
        });
    }
    static Config quietConfig() {
        Config c;
        c.stream.rate = 0;
        return c;
    }
    Bytes take() {
        Bytes b;
        b.swap(out);
        writes.clear();
        return b;
    }
    Bytes ask(const Bytes& in) {
        take();
        model.feed(in);
        return take();
    }
    // Pumps until `n` bytes arrived or 2 s passed.
    void pumpFor(std::size_t n) {
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (out.size() < n && Clock::now() < end) {
            const auto next = model.pump();
            std::this_thread::sleep_until(std::min(next, Clock::now() + std::chrono::milliseconds(5)));
        }
    }
    AmplifierModel model;
    Bytes out;
    std::vector<Bytes> writes;
};

Bytes answer(std::uint64_t value, int bytes) {
    Bytes b{';'};
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return b;
}

// A command's code byte followed by its parameter bytes as given.
Bytes op(Command c, std::initializer_list<int> params = {}) {
    Bytes b{static_cast<std::uint8_t>(c.code)};
    for (int p : params) b.push_back(static_cast<std::uint8_t>(p));
    return b;
}

Bytes seq(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

Bytes command(int code, std::uint64_t value) {
    Bytes b{static_cast<std::uint8_t>(code)};
    for (int i = paramBytesOf(code) - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return b;
}

// The library's conversions of raw codes to normalized values.
double decode24(std::uint32_t raw, bool bipolar) {
    return bipolar ? (static_cast<double>(raw) - 8388608.0) * 1.2516975402832032e-7 : raw * 6.258487701416016e-8;
}
double decode16(std::uint32_t raw, bool bipolar) {
    return bipolar ? (static_cast<double>(raw) - 32768.0) * 3.204345703125e-5 : raw * 1.6021728515625e-5;
}

// ---------------------------------------------------------------- identification

TEST(AmplifierModel, IdentificationAnswerDependsOnLevel) {
    for (int level : {0, 1, 2, 5, 9, 300}) {
        Config cfg = Bench::quietConfig();
        cfg.level = level;
        cfg.control = 0x1C1028;
        Bench b(cfg);
        const Bytes got = b.ask(op(cmd::kIdentify, {3}));
        if (level == 0)
            EXPECT_EQ(got, (Bytes{';', 0x1C, 0x10, 0x28})) << "level " << level;
        else
            EXPECT_EQ(got, (Bytes{'$', 0x1C, 0x10, 0x28, static_cast<std::uint8_t>(std::min(level, 255))}))
                << "level " << level;
    }
}

TEST(AmplifierModel, AnswersTheActivationAndReleaseSequence) {
    Config cfg = Bench::quietConfig();
    cfg.level = 4;
    cfg.options = 0x000200;
    cfg.specialMode = 0x0041;  // asleep bit set
    cfg.firmware = 0x0F02;
    cfg.displayDecimalPoint = 3;
    cfg.displayNorm = 0x800000 | 5250020;
    Bench b(cfg);

    EXPECT_EQ(b.ask(op(cmd::kIdentify, {3})), (Bytes{'$', 0x00, 0x00, 0x28, 4}));
    EXPECT_FALSE(b.model.uiLocked());
    EXPECT_EQ(b.ask(op(cmd::kLockInterface)), answer(1, 1));
    EXPECT_TRUE(b.model.uiLocked());
    EXPECT_EQ(b.ask(op(cmd::kGetOptions)), answer(0x200, 3));
    EXPECT_EQ(b.ask(op(cmd::kGetSpecialMode)), answer(0x41, 2));
    EXPECT_TRUE(b.ask(op(cmd::kSetSpecialMode, {0x00, 0x01})).empty());
    EXPECT_EQ(b.ask(op(cmd::kGetFirmware)), answer(0x0F02, 2));
    EXPECT_EQ(b.ask(op(cmd::kDispGetDPoint)), answer(3, 1));
    EXPECT_EQ(b.ask(op(cmd::kDispGetNorm)), answer(0x800000 | 5250020, 3));

    // Release: the sleep bit goes back, the user interface is unlocked.
    EXPECT_EQ(b.ask(op(cmd::kGetSpecialMode)), answer(0x01, 2));
    EXPECT_TRUE(b.ask(op(cmd::kSetSpecialMode, {0x00, 0x41})).empty());
    EXPECT_EQ(b.model.reg(cmd::kGetSpecialMode), 0x41u);
    EXPECT_TRUE(b.ask(seq({op(cmd::kUnlockInterface), op(cmd::kUnlockInterface)})).empty());
    EXPECT_FALSE(b.model.uiLocked());
    EXPECT_EQ(b.model.commandCount(cmd::kUnlockInterface), 2u);
}

// SetBaud by position: the amplifier keeps its speed unless it is set to
// follow; then index 5 is 115200 bit/s and index 7 is 625000.
TEST(AmplifierModel, SwitchesItsLineSpeedOnlyWhenSetToFollow) {
    for (const bool follow : {false, true}) {
        Config cfg = Bench::quietConfig();
        cfg.followBaudChange = follow;
        Bench b(cfg);
        std::vector<std::uint32_t> speeds;
        b.model.setLineSpeedHandler([&](std::uint32_t baud) { speeds.push_back(baud); });
        b.ask({cmd::kSetBaud, 5});
        b.ask({cmd::kSetBaud, 7});
        b.ask({cmd::kSetBaud, 12});  // beyond the table: no speed
        EXPECT_EQ(b.ask({cmd::kGetBaud}), answer(12, 1));
        EXPECT_EQ(speeds, follow ? (std::vector<std::uint32_t>{115200, 625000}) : std::vector<std::uint32_t>{});
    }
}

TEST(AmplifierModel, LockAnswerIsConfigurable) {
    Config cfg = Bench::quietConfig();
    cfg.lockAnswer = 0;
    Bench b(cfg);
    EXPECT_EQ(b.ask(op(cmd::kLockInterface)), answer(0, 1));
}

// ---------------------------------------------------------------- registers

TEST(AmplifierModel, SamplingRateWriteKeepsTheAmplifiersProtocol) {
    Bench b;
    for (std::uint64_t protocol : {0u, 1u, 2u, 3u}) {
        b.model.setReg(cmd::kReadSamplingRate, protocol << 22);
        EXPECT_TRUE(b.ask(command(cmd::kWriteSamplingRate, 0xFFFFFF)).empty());
        EXPECT_EQ(b.ask({cmd::kReadSamplingRate}), answer((protocol << 22) | 0x3FFFFF, 3)) << protocol;
        EXPECT_TRUE(b.ask(command(cmd::kWriteSamplingRate, 0x030102)).empty());
        EXPECT_EQ(b.ask({cmd::kReadSamplingRate}), answer((protocol << 22) | 0x030102, 3)) << protocol;
    }
}

// The sampling-rate word at start carries the start rate where its protocol
// can (frequency-linear: F = 2 f; timer: F = 65536 - 5000000 / f), with
// factor 1 (E = 1 factor-linear, 2^0 otherwise); a write sets the rate to the
// word's frequency. By hand: 100/s timer F = 15536 = 0x3CB0; 10/s linear
// F = 20; 10/s cannot be a timer word (reload 500000), so 500 Hz: F = 55536
// = 0xD8F0; F = 60536 = 0xEC78 is 5000000 / 5000 = 1000/s; linear F = 400 is 200/s.
TEST(AmplifierModel, StreamRateAndTheSamplingRateWordAgree) {
    struct Row {
        const char* what;
        std::uint8_t protocol;
        double startRate;
        std::optional<std::uint32_t> written;
        std::uint32_t word;
        double rate;
    };
    const Row rows[] = {
        {"timer, 100/s", 0, 100, {}, 0x003CB0, 100},
        {"timer, linear factor", 1, 100, {}, 0x413CB0, 100},
        {"linear frequency, 10/s", 2, 10, {}, 0x800014, 10},
        {"both linear, 10/s", 3, 10, {}, 0xC10014, 10},
        {"timer cannot say 10/s", 0, 10, {}, 0x00D8F0, 10},
        {"values on request only", 0, 0, {}, 0x00D8F0, 0},
        {"timer word written", 0, 50, 0x00EC78, 0x00EC78, 1000},
        {"linear word written, protocol bits its own", 2, 50, 0x000190, 0x800190, 200},
        {"frequency 0 keeps the rate", 2, 50, 0x000000, 0x800000, 50},
        {"on request only, whatever is written", 0, 0, 0x003CB0, 0x003CB0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Config cfg = Bench::quietConfig();
        cfg.samplingProtocol = row.protocol;
        cfg.stream.rate = row.startRate;
        cfg.stream.transmitting = false;
        Bench b(cfg);
        if (row.written) { EXPECT_TRUE(b.ask(command(cmd::kWriteSamplingRate, *row.written)).empty()); }
        EXPECT_EQ(b.ask({cmd::kReadSamplingRate}), answer(row.word, 3));
        EXPECT_EQ(b.model.stream().rate, row.rate);
    }
}

// The frame kind given at start shows in the words that choose it: the
// mode's text flag (bit 1) and the transmission mode's transmit4 (bit 1) and
// repeat3 (bit 2).
TEST(AmplifierModel, FrameKindAtStartShowsInTheModeWords) {
    struct Row {
        FrameKind kind;
        std::uint8_t mode;
        Bytes modeAnswer, txModeAnswer;
    };
    const Row rows[] = {
        {FrameKind::Binary24, 0x41, answer(0x41, 1), answer(0x00, 1)},
        {FrameKind::Binary24, 0x43, answer(0x41, 1), answer(0x00, 1)},
        {FrameKind::Status16, 0x00, answer(0x00, 1), answer(0x02, 1)},
        {FrameKind::Binary16, 0x00, answer(0x00, 1), answer(0x04, 1)},
        {FrameKind::Text, 0x41, answer(0x43, 1), answer(0x00, 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(frameKindName(row.kind));
        Config cfg = Bench::quietConfig();
        cfg.mode = row.mode;
        cfg.stream.kind = row.kind;
        Bench b(cfg);
        EXPECT_EQ(b.ask({cmd::kGetMode}), row.modeAnswer);
        EXPECT_EQ(b.ask({cmd::kGetTxMode}), row.txModeAnswer);
        EXPECT_EQ(b.model.stream().kind, row.kind);
    }
}

// One row per command of the identification words, the control word and the
// operating modes: the commands fed to a fresh model, then one query and the
// answer it must get, and the state the model must be in.
struct StateRow {
    const char* what = "";
    int level = 3;
    std::uint32_t options = 0;
    std::uint32_t control = 0x000028;  // bipolar, gain 0, channel 0, divisor 40
    std::vector<Bytes> in = {};
    Bytes query = {};  // empty: no query
    Bytes answer = {};
    std::optional<bool> settingsLocked = {};
    std::optional<AmplifierModel::Identifier> lockIdentifier = {};
    std::optional<AmplifierModel::Identifier> lastIdentifier = {};
    std::optional<bool> switchedOn = {};
    std::optional<bool> bipolar = {};
};

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list) b.push_back(static_cast<std::uint8_t>(v));
    return b;
}

TEST(AmplifierModel, SettingCommandsChangeTheStateTheirReadersReport) {
    using namespace cmd;
    const StateRow rows[] = {
        // Identification words.
        {.what = "options written whole", .in = {op(kWriteOptions, {0x00, 0x07, 0xC1})},
         .query = op(kGetOptions), .answer = bytes({';', 0x00, 0x07, 0xC1})},
        {.what = "equipment", .in = {op(kWriteEquipment, {0x2D})}, .query = op(kGetEquipment),
         .answer = bytes({';', 0x2D})},
        {.what = "firmware as configured", .query = op(kGetFirmware), .answer = bytes({';', 0x0C, 0x10})},
        {.what = "serial number as configured", .query = op(kGetSerialNo),
         .answer = bytes({';', '1', '2', '3', '4', '5', '6', '7', '8'})},
        {.what = "serial number written, zero byte kept",
         .in = {op(kWriteSerialNo, {'N', 'X', '-', '0', 0, '4', '2', 'Z'})}, .query = op(kGetSerialNo),
         .answer = bytes({';', 'N', 'X', '-', '0', 0, '4', '2', 'Z'})},
        // Control word and its fields.
        {.what = "control word written whole", .in = {op(kWriteControl, {0x1C, 0x10, 0x28})},
         .query = op(kGetControl), .answer = bytes({';', 0x1C, 0x10, 0x28})},
        {.what = "gain 7 in bits 18-20", .in = {op(kSetGain, {7})}, .query = op(kGetControl),
         .answer = bytes({';', 0x1C, 0x00, 0x28})},
        {.what = "gain 8 ignored", .control = 0x040028, .in = {op(kSetGain, {8})}, .query = op(kGetControl),
         .answer = bytes({';', 0x04, 0x00, 0x28})},
        {.what = "unipolar sets bit 12", .in = {op(kSetUnipolar)}, .query = op(kGetControl),
         .answer = bytes({';', 0x00, 0x10, 0x28}), .bipolar = false},
        {.what = "bipolar clears bit 12", .control = 0x1C1028, .in = {op(kSetBipolar)}, .query = op(kGetControl),
         .answer = bytes({';', 0x1C, 0x00, 0x28}), .bipolar = true},
        {.what = "control word written unipolar", .in = {op(kWriteControl, {0x00, 0x10, 0x00})}, .bipolar = false},
        {.what = "channel 1 sets bit 17", .in = {op(kSetChannel, {1})}, .query = op(kGetControl),
         .answer = bytes({';', 0x02, 0x00, 0x28})},
        {.what = "channel 1 read back", .in = {op(kSetChannel, {1})}, .query = op(kGetChannel),
         .answer = bytes({';', 1})},
        {.what = "channel 2 clears bit 17", .control = 0x020028, .in = {op(kSetChannel, {2})},
         .query = op(kGetControl), .answer = bytes({';', 0x00, 0x00, 0x28})},
        {.what = "channel 2 read back", .in = {op(kSetChannel, {2})}, .query = op(kGetChannel),
         .answer = bytes({';', 2})},
        {.what = "control bit 17 selects channel 1", .in = {op(kWriteControl, {0x02, 0x00, 0x28})},
         .query = op(kGetChannel), .answer = bytes({';', 1})},
        {.what = "control word with bit 17 as it was keeps channel 3",
         .in = {op(kSetChannel, {3}), op(kWriteControl, {0x02, 0x00, 0x28})}, .query = op(kGetChannel),
         .answer = bytes({';', 3})},
        // Sampling frequency: divisor in bits 0-10 and as 2^24 - divisor.
        {.what = "divisor 20 in the control word", .control = 0x1C1028, .in = {op(kSetFreq, {0x00, 0x14})},
         .query = op(kGetControl), .answer = bytes({';', 0x1C, 0x10, 0x14})},
        // 19531.25 / 20 = 5000000 / 5120: 2^24 - 5120.
        {.what = "divisor 20 by GetFreq", .in = {op(kSetFreq, {0x00, 0x14})}, .query = op(kGetFreq),
         .answer = bytes({';', 0xFF, 0xEC, 0x00})},
        {.what = "divisor 2047 fills bits 0-10", .in = {op(kSetFreq, {0x07, 0xFF})}, .query = op(kGetControl),
         .answer = bytes({';', 0x00, 0x07, 0xFF})},
        {.what = "divisor 2048 ignored without option bit 6", .in = {op(kSetFreq, {0x08, 0x00})},
         .query = op(kGetFreq), .answer = bytes({';', 0xFF, 0xD8, 0x00})},  // still 40: 2^24 - 10240
        {.what = "divisor 0 ignored", .in = {op(kSetFreq, {0x00, 0x00})}, .query = op(kGetControl),
         .answer = bytes({';', 0x00, 0x00, 0x28})},
        {.what = "extended divisor 10000 by GetFreq", .options = 0x40, .in = {op(kSetFreq, {0x27, 0x10})},
         .query = op(kGetFreq), .answer = bytes({';', 0xD8, 0xF0, 0x00})},  // 2^24 - 2560000
        {.what = "extended divisor 10000 does not fit bits 0-10", .options = 0x40, .control = 0x1C1028,
         .in = {op(kSetFreq, {0x27, 0x10})}, .query = op(kGetControl), .answer = bytes({';', 0x1C, 0x10, 0x00})},
        {.what = "extended divisor 65535", .options = 0x40, .in = {op(kSetFreq, {0xFF, 0xFF})},
         .query = op(kGetFreq), .answer = bytes({';', 0x00, 0x01, 0x00})},  // 2^24 - 16776960
        {.what = "extended divisor 1000 fits bits 0-10", .options = 0x40, .in = {op(kSetFreq, {0x03, 0xE8})},
         .query = op(kGetControl), .answer = bytes({';', 0x00, 0x03, 0xE8})},
        {.what = "option bit 6 written by WriteOptions",
         .in = {op(kWriteOptions, {0x00, 0x00, 0x40}), op(kSetFreq, {0x27, 0x10})}, .query = op(kGetFreq),
         .answer = bytes({';', 0xD8, 0xF0, 0x00})},
        {.what = "WriteControl divisor 100 by GetFreq", .in = {op(kWriteControl, {0x00, 0x00, 0x64})},
         .query = op(kGetFreq), .answer = bytes({';', 0xFF, 0x9C, 0x00})},  // 2^24 - 25600
        {.what = "WriteControl without divisor keeps it", .in = {op(kWriteControl, {0x1C, 0x10, 0x00})},
         .query = op(kGetFreq), .answer = bytes({';', 0xFF, 0xD8, 0x00})},
        {.what = "no divisor in the control word at start: 500 Hz", .control = 0x001000, .query = op(kGetFreq),
         .answer = bytes({';', 0xFF, 0xD8, 0xF0})},  // 2^24 - 10000
        // Operating mode, identifier, settings lock, switch.
        {.what = "mode byte", .in = {op(kSetMode, {0x41})}, .query = op(kGetMode), .answer = bytes({';', 0x41})},
        {.what = "level 2: lock is mode bit 7", .level = 2, .in = {op(kSetMode, {0x81})}, .query = op(kGetMode),
         .answer = bytes({';', 0x81}), .settingsLocked = true},
        {.what = "level 2: identifier clears mode bit 7", .level = 2,
         .in = {op(kSetMode, {0xC1}), op(kSendId, {1, 2, 3})}, .query = op(kGetMode), .answer = bytes({';', 0x41}),
         .settingsLocked = false, .lastIdentifier = AmplifierModel::Identifier{1, 2, 3}},
        {.what = "level 2: SetModeLock does not lock", .level = 2, .in = {op(kSetModeLock, {1, 2, 3})},
         .settingsLocked = false},
        {.what = "level 4: SetModeLock locks with its identifier", .level = 4,
         .in = {op(kSetModeLock, {0x0A, 0x0B, 0x0C})}, .query = op(kGetMode), .answer = bytes({';', 0x00}),
         .settingsLocked = true, .lockIdentifier = AmplifierModel::Identifier{0x0A, 0x0B, 0x0C}},
        {.what = "level 4: another identifier keeps the lock", .level = 4,
         .in = {op(kSetModeLock, {0x0A, 0x0B, 0x0C}), op(kSendId, {0x0A, 0x0B, 0x0D})}, .settingsLocked = true,
         .lastIdentifier = AmplifierModel::Identifier{0x0A, 0x0B, 0x0D}},
        {.what = "level 4: the lock's identifier unlocks", .level = 4,
         .in = {op(kSetModeLock, {0x0A, 0x0B, 0x0C}), op(kSendId, {0x0A, 0x0B, 0x0C})}, .settingsLocked = false},
        {.what = "level 4: identifier leaves mode bit 7", .level = 4,
         .in = {op(kSetMode, {0x80}), op(kSendId, {1, 2, 3})}, .query = op(kGetMode), .answer = bytes({';', 0x80}),
         .settingsLocked = false},
        {.what = "switched on at start", .switchedOn = true},
        {.what = "switch off", .in = {op(kSwitch, {0})}, .switchedOn = false},
        {.what = "switch on by any non-zero byte", .in = {op(kSwitch, {0}), op(kSwitch, {5})}, .switchedOn = true},
    };
    for (const StateRow& row : rows) {
        SCOPED_TRACE(row.what);
        Config cfg = Bench::quietConfig();
        cfg.level = row.level;
        cfg.options = row.options;
        cfg.control = row.control;
        Bench b(cfg);
        for (const Bytes& in : row.in) EXPECT_TRUE(b.ask(in).empty());
        if (!row.query.empty()) { EXPECT_EQ(b.ask(row.query), row.answer); }
        if (row.settingsLocked) { EXPECT_EQ(b.model.settingsLocked(), *row.settingsLocked); }
        if (row.lockIdentifier) { EXPECT_EQ(b.model.lockIdentifier(), *row.lockIdentifier); }
        if (row.lastIdentifier) { EXPECT_EQ(b.model.lastIdentifier(), *row.lastIdentifier); }
        if (row.switchedOn) { EXPECT_EQ(b.model.switchedOn(), *row.switchedOn); }
        if (row.bipolar) { EXPECT_EQ(b.model.bipolar(), *row.bipolar); }
        EXPECT_EQ(b.model.unmodelledCount(), 0u);
    }
}

TEST(AmplifierModel, RecordsWhenEachByteArrived) {
    Bench b;
    const Bytes serial = op(cmd::kWriteSerialNo, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    std::vector<std::pair<Clock::time_point, Clock::time_point>> window;  // around each feed
    for (std::uint8_t byte : serial) {
        const Clock::time_point before = Clock::now();
        b.model.feed(&byte, 1);
        window.emplace_back(before, Clock::now());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    b.model.feed(op(cmd::kSetGain, {3}));  // code and parameter in one piece
    b.model.feed(op(cmd::kGetFirmware));
    const auto log = b.model.commands();
    ASSERT_EQ(log.size(), 3u);
    ASSERT_EQ(log[0].byteTimes.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_GE(log[0].byteTimes[i], window[i].first) << "byte " << i;
        EXPECT_LE(log[0].byteTimes[i], window[i].second) << "byte " << i;
    }
    EXPECT_EQ(log[0].at, log[0].byteTimes.back());
    ASSERT_EQ(log[1].byteTimes.size(), 2u);
    EXPECT_EQ(log[1].byteTimes[0], log[1].byteTimes[1]);
    EXPECT_EQ(log[2].byteTimes.size(), 1u);
}

TEST(AmplifierModel, MemoryRangesCanAndCommandQueries) {
    Bench b;
    // 57: P1 = address bits 9..8 plus the 0x80 flag, P2 = address bits 7..0, P3 = data.
    // With the flag it only checks: status 1 while no marker stands.
    EXPECT_EQ(b.ask(op(cmd::kWriteMemory, {0x83, 0xFF, 0x5A})), answer(0xA1, 1));
    EXPECT_EQ(b.model.memory()[0x3FF], 0x00);
    EXPECT_EQ(b.ask(op(cmd::kWriteMemory, {0x03, 0xFF, 0x5A})), answer(0xA0, 1));
    EXPECT_EQ(b.ask(op(cmd::kWriteMemory, {0x03, 0xFC, 0x12})), answer(0xA0, 1));
    EXPECT_EQ(b.model.memory()[0x3FF], 0x5A);
    EXPECT_EQ(b.ask(op(cmd::kReadMemory, {0xFF})), (Bytes{';', 0x12, 0x00, 0x00, 0x5A, 0xA0}));

    EXPECT_TRUE(b.ask(op(cmd::kWriteRanges, {0x21, 0x80, 0x00, 0x64})).empty());
    EXPECT_EQ(b.ask(op(cmd::kGetRanges, {0x21})), answer(0x01800064, 4));

    EXPECT_TRUE(b.ask(op(cmd::kSetCanSetting, {0x05, 0xBE, 0xEF})).empty());
    EXPECT_EQ(b.ask(op(cmd::kGetCanSetting, {0x05})), answer(0xBEEF, 2));

    EXPECT_EQ(b.ask(op(cmd::kIsCommandAvailable, {163, 162})), answer(0xA0, 1));
    EXPECT_EQ(b.ask(op(cmd::kIsCommandAvailable, {71, 1})), answer(0x00, 1));
}

TEST(AmplifierModel, EveryDefinedCodeIsModelledWithItsAnswerLength) {
    Config cfg = Bench::quietConfig();
    cfg.level = 2;
    Bench b(cfg);
    for (int code = 0; code < kCommandCount; ++code) {
        if (!isDefinedCommand(code)) continue;
        const Bytes got = b.ask(command(code, 0));
        const int n = answerBytesOf(code);
        std::size_t want = n > 0 ? 1 + static_cast<std::size_t>(n) : 0;
        if (code == cmd::kIdentify) want += 1;  // '$' answers carry the level
        if (code == cmd::kSingleValue) want = 5;   // one value frame
        EXPECT_EQ(got.size(), want) << "code " << code;
    }
    EXPECT_EQ(b.model.unmodelledCount(), 0u);
    EXPECT_EQ(b.model.undefinedCount(), 0u);
}

// ---------------------------------------------------------------- parser and record

TEST(AmplifierModel, CommandSplitAcrossFeeds) {
    Bench b;
    const Bytes serial = command(cmd::kWriteSerialNo, 0x0102030405060708ull);
    for (std::size_t i = 0; i < serial.size(); ++i) {
        b.model.feed(&serial[i], 1);
        EXPECT_EQ(b.model.commandCount(cmd::kWriteSerialNo), i + 1 == serial.size() ? 1u : 0u) << "after byte " << i;
    }
    EXPECT_EQ(b.ask(op(cmd::kGetSerialNo)), answer(0x0102030405060708ull, 8));

    b.take();
    const Bytes id = op(cmd::kIdentify);
    b.model.feed(id);
    EXPECT_TRUE(b.out.empty());
    b.model.feed(seq({{3}, op(cmd::kGetFirmware)}));
    EXPECT_EQ(b.take(), (Bytes{'$', 0x00, 0x00, 0x28, 3, ';', 0x0C, 0x10}));

    const auto log = b.model.commands();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].code, cmd::kWriteSerialNo);
    EXPECT_EQ(log[0].value(), 0x0102030405060708ull);
    EXPECT_EQ(log[2].code, cmd::kIdentify);
    EXPECT_EQ(log[2].params, Bytes{3});
    EXPECT_LE(log[2].at, log[3].at);
}

TEST(AmplifierModel, UndefinedCodeIsReportedAndTakesNoParameters) {
    Config cfg = Bench::quietConfig();
    Bench b(cfg);
    testing::internal::CaptureStderr();
    const Bytes got = b.ask(seq({{71}, op(cmd::kGetFirmware), {153, 169, 200}}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, answer(0x0C10, 2));
    EXPECT_EQ(b.model.undefinedCount(), 4u);
    const auto und = b.model.undefinedCommands();
    ASSERT_EQ(und.size(), 4u);
    EXPECT_EQ(und[0].code, 71);
    EXPECT_EQ(und[3].code, 200);
    EXPECT_FALSE(und[1].defined);
    EXPECT_NE(err.find("71"), std::string::npos) << err;
    EXPECT_NE(err.find("169"), std::string::npos) << err;
    b.model.clearRecord();
    EXPECT_EQ(b.model.undefinedCount(), 0u);
    EXPECT_EQ(b.model.totalCommands(), 0u);
}

// ---------------------------------------------------------------- faults

TEST(AmplifierModel, SilencedCodeGetsNoAnswer) {
    Bench b;
    b.model.setFaults(Faults{}.silence(cmd::kGetFirmware));
    EXPECT_TRUE(b.ask(op(cmd::kGetFirmware)).empty());
    EXPECT_EQ(b.model.commandCount(cmd::kGetFirmware), 1u);
    EXPECT_EQ(b.ask(op(cmd::kDispGetDigits)), answer(6, 1));
}

TEST(AmplifierModel, DelayedAnswerKeepsLaterAnswersBehindIt) {
    Bench b;
    b.model.setFaults(Faults{}.delay(cmd::kGetFirmware, 400));
    const auto before = Clock::now();
    b.model.feed(seq({op(cmd::kGetFirmware), op(cmd::kDispGetDigits)}));
    EXPECT_TRUE(b.out.empty());
    const auto next = b.model.pump();
    EXPECT_GE(next, before + std::chrono::milliseconds(400));
    b.pumpFor(5);
    EXPECT_GE(Clock::now(), before + std::chrono::milliseconds(400));
    Bytes want = answer(0x0C10, 2);
    const Bytes second = answer(6, 1);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(b.take(), want);
}

TEST(AmplifierModel, SplitAnswerComesOneByteAWriteAndFramesWait) {
    Bench b;
    Faults f;
    f.splitAnswers = true;
    f.splitGapMs = 1;
    b.model.setFaults(f);
    b.model.feed(seq({op(cmd::kGetFirmware), op(cmd::kSingleValue)}));
    b.pumpFor(3 + 5);
    ASSERT_EQ(b.writes.size(), 4u);
    EXPECT_EQ(b.writes[0], Bytes{';'});
    EXPECT_EQ(b.writes[1], Bytes{0x0C});
    EXPECT_EQ(b.writes[2], Bytes{0x10});
    EXPECT_EQ(b.writes[3].size(), 5u);  // the value frame, after the answer's last byte
    EXPECT_EQ(b.writes[3][0], ',');
}

TEST(AmplifierModel, GarbageNowAndEveryNFrames) {
    Bench b;
    b.model.injectGarbage({0x01, 0x02});
    EXPECT_EQ(b.take(), (Bytes{0x01, 0x02}));

    Faults f;
    f.garbageEveryFrames = 2;
    f.garbage = {0xEE};
    b.model.setFaults(f);
    const Bytes got = b.ask(Bytes(4, cmd::kSingleValue));
    ASSERT_EQ(got.size(), 4 * 5 + 2u);
    EXPECT_EQ(got[10], 0xEE);
    EXPECT_EQ(got[21], 0xEE);
    EXPECT_EQ(got[0], ',');
    EXPECT_EQ(got[11], ',');
}

TEST(AmplifierModel, HangUpAfterNFrames) {
    Bench b;
    int hangUps = 0;
    b.model.setHangUpHandler([&] { ++hangUps; });
    Faults f;
    f.hangUpAfterFrames = 3;
    b.model.setFaults(f);
    EXPECT_EQ(b.ask(Bytes(2, cmd::kSingleValue)).size(), 10u);
    EXPECT_FALSE(b.model.hungUp());
    EXPECT_EQ(b.ask(seq({Bytes(3, cmd::kSingleValue), op(cmd::kGetFirmware)})).size(), 5u);
    EXPECT_TRUE(b.model.hungUp());
    EXPECT_EQ(hangUps, 1);
    EXPECT_EQ(b.model.commandCount(cmd::kGetFirmware), 1u);  // still recorded
    EXPECT_TRUE(b.ask(op(cmd::kGetFirmware)).empty());
}

TEST(AmplifierModel, SleepingAmplifierIsSilentUntilWoken) {
    Bench b;
    b.model.setAsleep(true);
    EXPECT_TRUE(b.ask(seq({op(cmd::kIdentify, {3}), op(cmd::kSingleValue)})).empty());
    EXPECT_EQ(b.model.commandCount(cmd::kIdentify), 1u);
    b.model.setAsleep(false);
    EXPECT_EQ(b.ask(op(cmd::kGetFirmware)), answer(0x0C10, 2));
}

// ---------------------------------------------------------------- frames and waveforms

TEST(AmplifierModel, RawCodesAtTheEndsOfScale) {
    EXPECT_EQ(AmplifierModel::rawCode24(0.0, true), 0x800000u);
    EXPECT_EQ(AmplifierModel::rawCode24(-1.05, true), 0u);
    EXPECT_EQ(AmplifierModel::rawCode24(2.0, true), 0xFFFFFFu);
    EXPECT_EQ(AmplifierModel::rawCode24(0.0, false), 0u);
    EXPECT_EQ(AmplifierModel::rawCode24(-0.5, false), 0u);
    EXPECT_EQ(AmplifierModel::rawCode24(1.05, false), 0xFFFFFFu);
    EXPECT_EQ(AmplifierModel::rawCode24(0.525, false), 0x800000u);
    EXPECT_EQ(AmplifierModel::rawCode16(0.0, true), 0x8000u);
    EXPECT_EQ(AmplifierModel::rawCode16(0.525, false), 0x8000u);
    EXPECT_EQ(AmplifierModel::rawCode16(-1.05, true), 0u);
    EXPECT_EQ(AmplifierModel::rawCode16(std::nan(""), false), 0u);
}

TEST(AmplifierModel, BinaryFramesCarryTheWaveformInEitherPolarity) {
    for (bool bipolar : {true, false}) {
        for (FrameKind kind : {FrameKind::Binary24, FrameKind::Status16, FrameKind::Binary16}) {
            Config cfg = Bench::quietConfig();
            cfg.control = bipolar ? 0x000028 : 0x001028;
            cfg.stream.kind = kind;
            cfg.stream.status = 0x2B;
            cfg.stream.waveform = Waveform::Ramp;
            cfg.stream.level = bipolar ? -0.9 : 0.05;
            cfg.stream.amplitude = 0.95;
            cfg.stream.period = 7;
            Bench b(cfg);
            const std::string what = std::string(frameKindName(kind)) + (bipolar ? " bipolar" : " unipolar");
            const Bytes got = b.ask(Bytes(7, cmd::kSingleValue));
            const std::size_t len = kind == FrameKind::Binary24 ? 5 : kind == FrameKind::Status16 ? 4 : 3;
            ASSERT_EQ(got.size(), 7 * len) << what;
            for (std::size_t i = 0; i < 7; ++i) {
                const std::uint8_t* f = &got[i * len];
                double v = 0, step = 0;
                if (kind == FrameKind::Binary24) {
                    EXPECT_EQ(f[0], ',');
                    EXPECT_EQ(f[1], 0x2B);
                    v = decode24(static_cast<std::uint32_t>(f[2] << 16 | f[3] << 8 | f[4]), bipolar);
                    step = 1.05 / (bipolar ? 0x1p23 : 0x1p24);
                } else {
                    if (kind == FrameKind::Status16) {
                        EXPECT_EQ(f[0], '&');
                        EXPECT_EQ(f[1], 0xA0 | 0x0B) << "top bits 101, low 5 bits the status";
                        ++f;
                    } else {
                        EXPECT_EQ(f[0], 0xA5);
                    }
                    v = decode16(static_cast<std::uint32_t>(f[1] << 8 | f[2]), bipolar);
                    step = 1.05 / (bipolar ? 0x1p15 : 0x1p16);
                }
                const double want = cfg.stream.level + cfg.stream.amplitude * static_cast<double>(i) / 7.0;
                EXPECT_NEAR(b.model.valueAt(i), want, 1e-12);
                EXPECT_NEAR(v, want, step / 2 + 1e-12) << what << " value " << i;
            }
        }
    }
}

TEST(AmplifierModel, TextFramesCarryValueTimesDisplayNorm) {
    Config cfg = Bench::quietConfig();
    cfg.stream.kind = FrameKind::Text;
    cfg.stream.waveform = Waveform::Sine;
    cfg.stream.level = 0.0;
    cfg.stream.amplitude = 0.8;
    cfg.stream.period = 8;
    cfg.displayDecimalPoint = 3;  // norm factor 100
    cfg.displayNorm = 0x800000 | 5250020;  // the flag bit does not scale
    Bench b(cfg);
    const Bytes got = b.ask(Bytes(8, cmd::kSingleValue));
    const std::string text(got.begin(), got.end());
    std::size_t pos = 0;
    for (std::uint64_t i = 0; i < 8; ++i) {
        const std::size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string frame = text.substr(pos, end + 1 - pos);
        pos = end + 1;
        const double want = b.model.valueAt(i) * 100.0;
        ASSERT_GE(frame.size(), 4u);
        EXPECT_EQ(frame[0], want < -1e-12 ? '-' : '+') << frame;
        EXPECT_EQ(frame.substr(frame.size() - 2), "\r\n");
        const std::string number = frame.substr(1, frame.size() - 3);
        const std::size_t first = number.find_first_not_of(' ');
        ASSERT_NE(first, std::string::npos);
        EXPECT_LE(number.size() - first, 10u) << "at most 10 significant characters: " << frame;
        const double mag = std::strtod(number.c_str(), nullptr);
        EXPECT_NEAR(frame[0] == '-' ? -mag : mag, want, 0.5e-4) << frame;
    }
    EXPECT_EQ(pos, text.size());
    EXPECT_NEAR(b.model.valueAt(2), 0.8, 1e-12);  // a quarter period
}

TEST(AmplifierModel, TextFramesFitTenCharactersAndCanOmitTheCarriageReturn) {
    StreamSettings s;
    s.kind = FrameKind::Text;
    s.textCarriageReturn = false;
    s.textWidth = 0;
    const Bytes big = AmplifierModel::encodeFrame(s, 1.0, true, 123456789.0);
    EXPECT_EQ(std::string(big.begin(), big.end()), "+123456789\n");
    const Bytes neg = AmplifierModel::encodeFrame(s, -0.5, true, 1.0);
    EXPECT_EQ(std::string(neg.begin(), neg.end()), "-0.5000\n");
    s.textWidth = 9;
    const Bytes pad = AmplifierModel::encodeFrame(s, 0.25, true, 1.0);
    EXPECT_EQ(std::string(pad.begin(), pad.end()), "+   0.2500\n");
    EXPECT_DOUBLE_EQ(AmplifierModel::displayNormFactor(1, 5250020), 1.0);
    EXPECT_DOUBLE_EQ(AmplifierModel::displayNormFactor(4, 0x800000 | 2625010), 500.0);
}

TEST(AmplifierModel, WaveformsAreDeterministic) {
    Config cfg = Bench::quietConfig();
    cfg.stream.waveform = Waveform::Noise;
    cfg.stream.level = 0.1;
    cfg.stream.amplitude = 0.2;
    cfg.stream.seed = 7;
    AmplifierModel a(cfg), same(cfg);
    cfg.stream.seed = 8;
    AmplifierModel other(cfg);
    int differs = 0, changes = 0;
    for (std::uint64_t i = 0; i < 200; ++i) {
        const double v = a.valueAt(i);
        EXPECT_EQ(v, same.valueAt(i));
        EXPECT_GE(v, -0.1);
        EXPECT_LE(v, 0.3);
        differs += v != other.valueAt(i);
        changes += i > 0 && v != a.valueAt(i - 1);
    }
    EXPECT_GT(differs, 190);
    EXPECT_GT(changes, 190);

    StreamSettings s = a.stream();
    s.waveform = Waveform::Constant;
    a.setStream(s);
    EXPECT_EQ(a.valueAt(0), 0.1);
    EXPECT_EQ(a.valueAt(12345), 0.1);
}

// ---------------------------------------------------------------- stream control

TEST(AmplifierModel, StreamStopsAndStartsAndSendsSingleValues) {
    Config cfg = Bench::quietConfig();
    cfg.stream.rate = 2000;
    Bench b(cfg);
    b.pumpFor(5);
    EXPECT_GE(b.out.size(), 5u);
    EXPECT_EQ(b.out.size() % 5, 0u);

    b.model.feed(op(cmd::kStopTransmit));
    EXPECT_FALSE(b.model.transmitting());
    b.take();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(b.model.pump(), Clock::time_point::max()) << "nothing due while stopped";
    EXPECT_TRUE(b.out.empty());

    EXPECT_EQ(b.ask(op(cmd::kSingleValue)).size(), 5u) << "59 sends one value while stopped";
    EXPECT_TRUE(b.ask(seq({op(cmd::kClearBuffer), op(cmd::kClearMaxValue)})).empty());

    const std::uint64_t before = b.model.framesSent();
    b.model.feed(op(cmd::kStartTransmit));
    EXPECT_TRUE(b.model.transmitting());
    b.pumpFor(10);
    EXPECT_GE(b.model.framesSent(), before + 2);
}

TEST(AmplifierModel, StoppedAtStartUntil36) {
    Config cfg = Bench::quietConfig();
    cfg.stream.rate = 1000;
    cfg.stream.transmitting = false;
    Bench b(cfg);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    b.model.pump();
    EXPECT_TRUE(b.out.empty());
    b.model.feed(op(cmd::kStartTransmit));
    b.pumpFor(5);
    EXPECT_GE(b.out.size(), 5u);
}

}  // namespace
}  // namespace nxtka::sim
