#include "amplifier_model.h"

#include "core/command_table.h"
#include "core/speed_tables.h"
#include "word_fields.h"

#include <algorithm>
#include <cstdio>

namespace nxtka::sim {

namespace {

// A value written with the set command reads back with the get command.
// Commands that change more than their register have a handler as well.
struct RegisterSpec {
    int get;
    int set;  // kReadOnly: none
};
constexpr int kReadOnly = -1;
constexpr RegisterSpec kRegisters[] = {
    {cmd::kGetScale, cmd::kWriteScale},
    {cmd::kGetZero, cmd::kWriteZero},
    {cmd::kGetControl, cmd::kWriteControl},  // handler
    {cmd::kGetOffset, cmd::kWriteOffset},    // GetOffset is also the host's drain marker
    {cmd::kGetFreq, cmd::kSetFreq},          // handler
    {cmd::kGetCal, cmd::kSetCal},
    {cmd::kDispGetNorm, cmd::kDispSetNorm},
    {cmd::kDispGetUnit, cmd::kDispSetUnit},
    {cmd::kDispGetDPoint, cmd::kDispSetDPoint},
    {cmd::kGetSerialNo, cmd::kWriteSerialNo},
    {cmd::kGetThreshold, cmd::kSetThreshold},
    {cmd::kGetMode, cmd::kSetMode},
    {cmd::kGetEquipment, cmd::kWriteEquipment},
    {cmd::kGetFirmware, kReadOnly},
    {cmd::kGetGageFactor, cmd::kSetGageFactor},
    {cmd::kGetPoisson, cmd::kSetPoisson},
    {cmd::kGetBridge, cmd::kSetBridge},
    {cmd::kGetRange, cmd::kWriteRange},
    {cmd::kGetOffsetWait, cmd::kSetOffsetWait},
    {cmd::kGetOptions, cmd::kWriteOptions},
    {cmd::kGetMemoryWait, kReadOnly},
    {cmd::kDispGetDigits, cmd::kDispSetDigits},
    {cmd::kGetChannel, cmd::kSetChannel},  // handler
    {cmd::kGetLastError, kReadOnly},
    {cmd::kGetSecondThreshold, cmd::kSetSecondThreshold},
    {cmd::kGetDeviceType, kReadOnly},
    {cmd::kGetTxMode, cmd::kSetTxMode},
    {cmd::kGetBaud, cmd::kSetBaud},
    {cmd::kReserved133, cmd::kReserved132},
    {cmd::kGetSlowRate, cmd::kSetSlowRate},
    {cmd::kGetSpecialMode, cmd::kSetSpecialMode},
    {cmd::kReadSamplingRate, cmd::kWriteSamplingRate},
    {cmd::kReserved143, cmd::kReserved142},
    {cmd::kGetAnalogFilter, cmd::kSetAnalogFilter},
    {cmd::kGetNoiseCutThreshold, cmd::kSetNoiseCutThreshold},
    {cmd::kGetAutoZeroCounter, cmd::kSetAutoZeroCounter},
    {cmd::kGetUserOffset, cmd::kSetUserOffset},
    {cmd::kGetTransmissionDelta, cmd::kSetTransmissionDelta},
    {cmd::kGetAdaptFilterMask, cmd::kSetAdaptFilterMask},
    {cmd::kGetAdaptFilterLearnVals, cmd::kSetAdaptFilterLearnVals},
    {cmd::kGetSensorCapacity, cmd::kSetSensorCapacity},
    {cmd::kGetRatedOutput, cmd::kSetRatedOutput},
    {cmd::kGetSensorTextAssign, kReadOnly},
};

// Commands that are accepted and do nothing the host could observe.
constexpr Command kPlainActions[] = {
    cmd::kResetStatus,  cmd::kLoadSettings, cmd::kSaveSettings,  cmd::kCalibrate,
    cmd::kAdjustZero,   cmd::kAdjustScale,  cmd::kAdjustOffset,  cmd::kClearBuffer,
    cmd::kClearMaxValue, cmd::kDispCalcNorm, cmd::kSetUserTextChar,
};

// From this protocol level on the settings lock is SetModeLock with an
// identifier; below it is bit 7 of the mode byte.
constexpr int kModeLockLevel = 3;

// GetFreq answers 2^24 minus the divisor of 5 MHz, which is 256 times the
// divisor of 19531.25 Hz that SetFreq and the control word carry.
constexpr std::uint64_t kFrequencyBase = std::uint64_t{1} << 24;
constexpr std::uint64_t kClockTicksPerStep = 256;
constexpr std::uint64_t kDefaultClockDivisor = 10000;  // 500 Hz, when the control word has no divisor

// Settings at power-on that Config does not name.
constexpr std::uint64_t kStartScale = 0x400000;
constexpr std::uint64_t kStartZero = 0x800000;  // mid-scale
constexpr std::uint64_t kStartOffset = 0x8000;  // mid-scale
constexpr std::uint64_t kStartCal = 0xFFFFFF;
constexpr std::uint64_t kStartGageFactor = 200;  // 2.00, in hundredths
constexpr std::uint64_t kStartPoisson = 30;      // 0.06, in 500ths
constexpr std::int32_t kStartBaud = 38400;
constexpr std::int32_t kStartCanBitRate = 250000;
constexpr int kCanPresentLevel = 3;  // from this protocol level on the CAN interface is fitted

std::uint64_t maskOf(int bytes) {
    return bytes >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * bytes)) - 1;
}

}  // namespace

// ---------------------------------------------------------------- set-up

AmplifierModel::AmplifierModel(Config config) : config_(std::move(config)), memory_(kMemorySize, 0) {
    setTarget_.fill(-1);
    for (const RegisterSpec& r : kRegisters) {
        readable_.set(static_cast<std::size_t>(r.get));
        if (r.set >= 0) setTarget_[static_cast<std::size_t>(r.set)] = static_cast<std::int16_t>(r.get);
    }
    const std::uint64_t divisor = fieldOf(config_.control, control::kFrequencyDivisor);
    auto init = [this](int getCode, std::uint64_t value) {
        regs_[static_cast<std::size_t>(getCode)] = value & maskOf(answerBytesOf(getCode));
    };
    init(cmd::kGetScale, kStartScale);
    init(cmd::kGetZero, kStartZero);
    init(cmd::kGetControl, config_.control);
    init(cmd::kGetOffset, kStartOffset);
    init(cmd::kGetFreq, kFrequencyBase - (divisor != 0 ? divisor * kClockTicksPerStep : kDefaultClockDivisor));
    init(cmd::kGetCal, kStartCal);
    init(cmd::kDispGetNorm, config_.displayNorm);
    init(cmd::kDispGetUnit, config_.displayUnit);
    init(cmd::kDispGetDPoint, config_.displayDecimalPoint);
    init(cmd::kGetSerialNo, config_.serialNumber);
    init(cmd::kGetMode, config_.mode);
    init(cmd::kGetEquipment, config_.equipment);
    init(cmd::kGetFirmware, config_.firmware);
    init(cmd::kGetGageFactor, kStartGageFactor);
    init(cmd::kGetPoisson, kStartPoisson);
    init(cmd::kGetOptions, config_.options);
    init(cmd::kGetMemoryWait, config_.memoryWait);
    init(cmd::kDispGetDigits, config_.displayDigits);
    init(cmd::kGetChannel, fieldOf(config_.control, control::kChannel));
    init(cmd::kGetDeviceType, config_.deviceType);
    init(cmd::kGetBaud, static_cast<std::uint64_t>(speeds::positionOf(speeds::kSerial, kStartBaud)));
    init(cmd::kGetSpecialMode, config_.specialMode);
    for (std::size_t s = 0; s < ranges_.size(); ++s)
        ranges_[s] = (kRangeWritten << 24) | static_cast<std::uint32_t>((s + 1) * 100);
    can_[can::kBitRateIndex] = static_cast<std::uint16_t>(speeds::positionOf(speeds::kCan, kStartCanBitRate));
    can_[can::kFlagsIndex] = config_.level >= kCanPresentLevel ? static_cast<std::uint16_t>(can::kPresent.mask()) : 0;
    showFrameKind(config_.stream.kind);
    transmitting_ = config_.stream.transmitting;
    restartStream(Clock::now());
    installHandlers();
}

AmplifierModel::~AmplifierModel() = default;

void AmplifierModel::installHandlers() {
    using R = std::optional<std::uint64_t>;
    for (int code : kPlainActions) on(code, [](const ReceivedCommand&) -> R { return std::nullopt; });
    auto reg = [this](int getCode) -> std::uint64_t& { return regAt(getCode); };

    // The answer's three bytes are the control word; '$' framing in answerFrame.
    on(cmd::kIdentify, [reg](const ReceivedCommand&) -> R { return reg(cmd::kGetControl); });
    on(cmd::kStopTransmit, [this](const ReceivedCommand&) -> R { transmitting_ = false; return std::nullopt; });
    on(cmd::kStartTransmit, [this](const ReceivedCommand&) -> R {
        if (!transmitting_) {
            transmitting_ = true;
            restartStream(Clock::now());
        }
        return std::nullopt;
    });
    on(cmd::kSingleValue, [this](const ReceivedCommand&) -> R { sendValueFrame(); return std::nullopt; });
    on(cmd::kLockInterface, [this](const ReceivedCommand&) -> R { uiLocked_ = true; return config_.lockAnswer; });
    on(cmd::kUnlockInterface, [this](const ReceivedCommand&) -> R { uiLocked_ = false; return std::nullopt; });

    // The control word and the commands on its fields.
    on(cmd::kWriteControl, [this](const ReceivedCommand& c) -> R { writeControl(c.value()); return std::nullopt; });
    on(cmd::kSetGain, [reg](const ReceivedCommand& c) -> R {
        if (c.params[0] <= fieldMax(control::kGain))
            reg(cmd::kGetControl) = withField(reg(cmd::kGetControl), control::kGain, c.params[0]);
        return std::nullopt;
    });
    on(cmd::kSetBipolar, [reg](const ReceivedCommand&) -> R {
        reg(cmd::kGetControl) = withField(reg(cmd::kGetControl), control::kUnipolar, 0);
        return std::nullopt;
    });
    on(cmd::kSetUnipolar, [reg](const ReceivedCommand&) -> R {
        reg(cmd::kGetControl) = withField(reg(cmd::kGetControl), control::kUnipolar, 1);
        return std::nullopt;
    });
    on(cmd::kSetChannel, [reg](const ReceivedCommand& c) -> R {
        reg(cmd::kGetChannel) = c.params[0];
        reg(cmd::kGetControl) = withField(reg(cmd::kGetControl), control::kChannel, c.params[0] & 1u);
        return std::nullopt;
    });
    on(cmd::kSetFreq, [this](const ReceivedCommand& c) -> R {
        const std::uint64_t divisor = c.value();
        const std::uint64_t most = extendedDivisor() ? 0xFFFF : fieldMax(control::kFrequencyDivisor);
        if (divisor >= 1 && divisor <= most) setDivisor(divisor);
        return std::nullopt;
    });

    // Identifier, settings lock and switch.
    on(cmd::kSendId, [this, reg](const ReceivedCommand& c) -> R {
        std::copy(c.params.begin(), c.params.end(), lastIdentifier_.begin());
        if (config_.level < kModeLockLevel)
            reg(cmd::kGetMode) = withField(reg(cmd::kGetMode), mode::kLock, 0);
        else if (settingsLocked_ && lastIdentifier_ == lockIdentifier_)
            settingsLocked_ = false;
        return std::nullopt;
    });
    on(cmd::kSetModeLock, [this](const ReceivedCommand& c) -> R {
        if (config_.level >= kModeLockLevel) {
            std::copy(c.params.begin(), c.params.end(), lockIdentifier_.begin());
            settingsLocked_ = true;
        }
        return std::nullopt;
    });
    on(cmd::kSwitch, [this](const ReceivedCommand& c) -> R { switch_ = c.params[0]; return std::nullopt; });

    installTransmissionHandlers();
    installMemoryHandlers();
    // Last: it models the range table and command availability in full.
    installMeasurementHandlers();
}

void AmplifierModel::on(int code, Handler handler) { handlers_[static_cast<std::size_t>(code & 0xFF)] = std::move(handler); }

std::uint64_t& AmplifierModel::regAt(int getCode) { return regs_[static_cast<std::size_t>(getCode & 0xFF)]; }

bool AmplifierModel::extendedDivisor() const {
    return fieldOf(regs_[cmd::kGetOptions], options::kExtension3) != 0;
}

void AmplifierModel::setDivisor(std::uint64_t divisor) {
    regs_[cmd::kGetFreq] = kFrequencyBase - divisor * kClockTicksPerStep;
    const bool fits = divisor <= fieldMax(control::kFrequencyDivisor);
    regs_[cmd::kGetControl] = withField(regs_[cmd::kGetControl], control::kFrequencyDivisor, fits ? divisor : 0);
}

void AmplifierModel::writeControl(std::uint64_t word) {
    std::uint64_t& controlWord = regs_[cmd::kGetControl];
    std::uint64_t& channel = regs_[cmd::kGetChannel];
    controlWord = word & maskOf(paramBytesOf(cmd::kWriteControl));
    const std::uint64_t divisor = fieldOf(controlWord, control::kFrequencyDivisor);
    if (divisor != 0) regs_[cmd::kGetFreq] = kFrequencyBase - divisor * kClockTicksPerStep;
    const std::uint64_t channelBit = fieldOf(controlWord, control::kChannel);
    if ((channel & 1u) != channelBit) channel = channelBit;
}

// ---------------------------------------------------------------- wiring

void AmplifierModel::setSink(Sink sink) {
    std::lock_guard lk(mu_);
    sink_ = std::move(sink);
}

void AmplifierModel::setHangUpHandler(std::function<void()> handler) {
    std::lock_guard lk(mu_);
    hangUpHandler_ = std::move(handler);
}

void AmplifierModel::setWakeHandler(std::function<void()> handler) {
    std::lock_guard lk(mu_);
    wakeHandler_ = std::move(handler);
}

void AmplifierModel::setLineSpeedHandler(std::function<void(std::uint32_t baud)> handler) {
    std::lock_guard lk(mu_);
    lineSpeedHandler_ = std::move(handler);
}

void AmplifierModel::setCommandObserver(CommandObserver observer) {
    std::lock_guard lk(mu_);
    observer_ = std::move(observer);
}

void AmplifierModel::wake() {
    std::function<void()> w;
    {
        std::lock_guard lk(mu_);
        w = wakeHandler_;
    }
    if (w) w();
}

// ---------------------------------------------------------------- input

void AmplifierModel::feed(const std::uint8_t* bytes, std::size_t count) {
    {
        std::lock_guard lk(mu_);
        const Clock::time_point now = Clock::now();
        flushDue(now);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = bytes[i];
            if (inCommand_) {
                partial_.params.push_back(b);
                partial_.byteTimes.push_back(now);
                if (partial_.params.size() == want_) {
                    inCommand_ = false;
                    partial_.at = now;
                    handleCommand(std::move(partial_));
                    partial_ = {};
                }
                continue;
            }
            const int n = paramBytesOf(b);
            ReceivedCommand c;
            c.code = b;
            c.byteTimes.push_back(now);
            if (n <= 0) {
                c.defined = n == 0;
                c.at = now;
                handleCommand(std::move(c));
            } else {
                partial_ = std::move(c);
                want_ = static_cast<std::size_t>(n);
                inCommand_ = true;
            }
        }
    }
    wake();
}

void AmplifierModel::handleCommand(ReceivedCommand cmd) {
    const std::size_t code = cmd.code;
    record_.add(cmd);
    if (observer_) observer_(cmd);
    commandCv_.notify_all();

    if (!cmd.defined) {
        if (config_.reportUndefinedToStderr)
            std::fprintf(stderr, "nxtka-sim: undefined command code %u (0x%02X) received and ignored\n",
                         static_cast<unsigned>(code), static_cast<unsigned>(code));
        return;
    }
    if (hungUp_) return;

    std::optional<std::uint64_t> answer;
    if (handlers_[code]) {
        answer = handlers_[code](cmd);
    } else if (setTarget_[code] >= 0) {
        const auto reg = static_cast<std::size_t>(setTarget_[code]);
        regs_[reg] = cmd.value() & maskOf(answerBytesOf(static_cast<int>(reg)));
    } else if (readable_.test(code)) {
        answer = regs_[code];
    } else {
        record_.noteUnmodelled();
        std::fprintf(stderr, "nxtka-sim: command %u has no model; %s\n", static_cast<unsigned>(code),
                     answerBytesOf(static_cast<int>(code)) > 0 ? "answering zeros" : "accepted");
        answer = 0;
    }
    if (answer && answerBytesOf(static_cast<int>(code)) > 0)
        queueAnswer(cmd.code, answerFrame(cmd.code, *answer));
}

std::vector<std::uint8_t> AmplifierModel::answerFrame(std::uint8_t code, std::uint64_t value) const {
    const int n = answerBytesOf(code);
    std::vector<std::uint8_t> f;
    const bool dollar = code == cmd::kIdentify && config_.level >= 1;
    f.push_back(dollar ? '$' : ';');
    for (int i = n - 1; i >= 0; --i) f.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    if (dollar) f.push_back(static_cast<std::uint8_t>(std::min(config_.level, 255)));
    return f;
}

// ---------------------------------------------------------------- output

void AmplifierModel::emit(const std::uint8_t* bytes, std::size_t count) {
    if (hungUp_ || count == 0) return;
    bytesSent_ += count;
    if (sink_) sink_(bytes, count);
}

void AmplifierModel::queueAnswer(std::uint8_t code, std::vector<std::uint8_t> frame) {
    if (asleep_ || faults_.silent.test(code)) return;
    const Clock::time_point now = Clock::now();
    Clock::time_point due = now + std::chrono::milliseconds(faults_.delayMs[code]);
    if (!pending_.empty()) due = std::max(due, pending_.back().due);
    if (faults_.splitAnswers) {
        for (std::size_t i = 0; i < frame.size(); ++i) {
            pending_.push_back({due, {frame[i]}, i + 1 == frame.size()});
            due += std::chrono::milliseconds(faults_.splitGapMs);
        }
    } else {
        pending_.push_back({due, std::move(frame), true});
    }
    flushDue(now);
}

void AmplifierModel::flushDue(Clock::time_point now) {
    while (!pending_.empty() && pending_.front().due <= now && !hungUp_) {
        Chunk c = std::move(pending_.front());
        pending_.pop_front();
        midAnswer_ = !c.endsAnswer;
        emit(c.bytes);
    }
    if (hungUp_) {
        pending_.clear();
        midAnswer_ = false;
    }
}

Clock::time_point AmplifierModel::nextDue() const {
    Clock::time_point t = Clock::time_point::max();
    if (!pending_.empty()) t = pending_.front().due;
    t = std::min(t, quietUntil_);
    if (streamRunning() && !midAnswer_) {
        const auto offset = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(streamCount_) / config_.stream.rate));
        t = std::min(t, streamEpoch_ + offset);
    }
    return t;
}

Clock::time_point AmplifierModel::pump() {
    std::lock_guard lk(mu_);
    const Clock::time_point now = Clock::now();
    flushDue(now);
    adjustmentDue(now);
    streamDue(now);
    return nextDue();
}

void AmplifierModel::hangUpLocked() {
    if (hungUp_) return;
    hungUp_ = true;
    pending_.clear();
    midAnswer_ = false;
    if (hangUpHandler_) hangUpHandler_();
}

// ---------------------------------------------------------------- faults

Faults AmplifierModel::faults() const {
    std::lock_guard lk(mu_);
    return faults_;
}

void AmplifierModel::setFaults(const Faults& faults) {
    {
        std::lock_guard lk(mu_);
        faults_ = faults;
    }
    wake();
}

void AmplifierModel::injectGarbage(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lk(mu_);
    emit(bytes);
}

void AmplifierModel::hangUp() {
    std::lock_guard lk(mu_);
    hangUpLocked();
}

bool AmplifierModel::hungUp() const {
    std::lock_guard lk(mu_);
    return hungUp_;
}

// ---------------------------------------------------------------- state

int AmplifierModel::level() const {
    std::lock_guard lk(mu_);
    return config_.level;
}

void AmplifierModel::setLevel(int level) {
    std::lock_guard lk(mu_);
    config_.level = level;
}

std::uint64_t AmplifierModel::reg(int getCode) const {
    std::lock_guard lk(mu_);
    return regs_[static_cast<std::size_t>(getCode & 0xFF)];
}

void AmplifierModel::setReg(int getCode, std::uint64_t value) {
    std::lock_guard lk(mu_);
    regs_[static_cast<std::size_t>(getCode & 0xFF)] = value;
}

bool AmplifierModel::uiLocked() const {
    std::lock_guard lk(mu_);
    return uiLocked_;
}

bool AmplifierModel::settingsLocked() const {
    std::lock_guard lk(mu_);
    if (config_.level < kModeLockLevel) return fieldOf(regs_[cmd::kGetMode], mode::kLock) != 0;
    return settingsLocked_;
}

AmplifierModel::Identifier AmplifierModel::lockIdentifier() const {
    std::lock_guard lk(mu_);
    return lockIdentifier_;
}

AmplifierModel::Identifier AmplifierModel::lastIdentifier() const {
    std::lock_guard lk(mu_);
    return lastIdentifier_;
}

bool AmplifierModel::switchedOn() const {
    std::lock_guard lk(mu_);
    return switch_ != 0;
}

std::vector<std::uint8_t> AmplifierModel::memory() const {
    std::lock_guard lk(mu_);
    return memory_;
}

void AmplifierModel::setMemory(std::size_t address, std::uint8_t value) {
    std::lock_guard lk(mu_);
    memory_.at(address) = value;
}

std::uint32_t AmplifierModel::rangeEntry(int selector) const {
    std::lock_guard lk(mu_);
    return ranges_[static_cast<std::size_t>(selector & 0xFF)];
}

void AmplifierModel::setRangeEntry(int selector, std::uint32_t entry) {
    std::lock_guard lk(mu_);
    ranges_[static_cast<std::size_t>(selector & 0xFF)] = entry;
}

std::uint16_t AmplifierModel::canSetting(int index) const {
    std::lock_guard lk(mu_);
    return can_[static_cast<std::size_t>(index & 0xFF)];
}

void AmplifierModel::setHandler(int code, Handler handler) {
    std::lock_guard lk(mu_);
    handlers_[static_cast<std::size_t>(code & 0xFF)] = std::move(handler);
}

// ---------------------------------------------------------------- record

std::vector<ReceivedCommand> AmplifierModel::commands() const {
    std::lock_guard lk(mu_);
    return record_.commands();
}

std::size_t AmplifierModel::commandCount(int code) const {
    std::lock_guard lk(mu_);
    return record_.count(code);
}

std::size_t AmplifierModel::totalCommands() const {
    std::lock_guard lk(mu_);
    return record_.total();
}

std::vector<ReceivedCommand> AmplifierModel::undefinedCommands() const {
    std::lock_guard lk(mu_);
    return record_.undefined();
}

std::size_t AmplifierModel::undefinedCount() const {
    std::lock_guard lk(mu_);
    return record_.undefinedCount();
}

std::size_t AmplifierModel::unmodelledCount() const {
    std::lock_guard lk(mu_);
    return record_.unmodelledCount();
}

bool AmplifierModel::waitForCommand(int code, std::chrono::milliseconds timeout, std::size_t count) const {
    std::unique_lock lk(mu_);
    return commandCv_.wait_for(lk, timeout, [&] { return record_.count(code) >= count; });
}

void AmplifierModel::clearRecord() {
    std::lock_guard lk(mu_);
    record_.clear();
}

std::uint64_t AmplifierModel::bytesSent() const {
    std::lock_guard lk(mu_);
    return bytesSent_;
}

}  // namespace nxtka::sim
