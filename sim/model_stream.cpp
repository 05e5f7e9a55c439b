#include "amplifier_model.h"

#include "core/command_table.h"
#include "word_fields.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace nxtka::sim {

namespace {

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

const char* waveformName(Waveform w) {
    switch (w) {
        case Waveform::Constant: return "constant";
        case Waveform::Ramp: return "ramp";
        case Waveform::Sine: return "sine";
        case Waveform::Noise: return "noise";
    }
    return "?";
}

// Value frames: due by the rate while transmitting, or one on request.

FrameKind AmplifierModel::frameKindBySettings() const {
    if (fieldOf(regs_[cmd::kGetMode], mode::kText) != 0) return FrameKind::Text;
    const std::uint64_t tx = regs_[cmd::kGetTxMode];
    if (fieldOf(tx, txMode::kTransmit5) != 0) return FrameKind::Binary24;
    if (fieldOf(tx, txMode::kTransmit4) != 0) return FrameKind::Status16;
    if (fieldOf(tx, txMode::kRepeat3) != 0) return FrameKind::Binary16;
    return FrameKind::Binary24;
}

void AmplifierModel::showFrameKind(FrameKind kind) {
    std::uint64_t& modeByte = regs_[cmd::kGetMode];
    modeByte = withField(modeByte, mode::kText, kind == FrameKind::Text ? 1 : 0);
    if (kind == FrameKind::Text) return;
    std::uint64_t& tx = regs_[cmd::kGetTxMode];
    tx = withField(tx, txMode::kTransmit5, 0);
    tx = withField(tx, txMode::kTransmit4, kind == FrameKind::Status16 ? 1 : 0);
    tx = withField(tx, txMode::kRepeat3, kind == FrameKind::Binary16 ? 1 : 0);
}

void AmplifierModel::followSamplingRate(double frequency) {
    if (config_.stream.rate <= 0 || !(frequency > 0)) return;
    config_.stream.rate = frequency;
    restartStream(Clock::now());
}

void AmplifierModel::sendValueFrame() {
    if (asleep_ || hungUp_) return;
    config_.stream.kind = frameKindBySettings();
    const double v = valueAt(framesSent_);
    std::vector<std::uint8_t> frame =
        encodeFrame(config_.stream, v, bipolar(),
                    displayNormFactor(static_cast<std::uint8_t>(regs_[cmd::kDispGetDPoint]),
                                      static_cast<std::uint32_t>(regs_[cmd::kDispGetNorm])));
    ++framesSent_;
    if (midAnswer_) {
        // Never inside an answer: the frame goes out right after its last byte.
        auto it = std::find_if(pending_.begin(), pending_.end(), [](const Chunk& c) { return c.endsAnswer; });
        const Clock::time_point due = it != pending_.end() ? it->due : Clock::now();
        pending_.insert(it == pending_.end() ? it : it + 1, Chunk{due, std::move(frame), true});
    } else {
        emit(frame);
    }
    if (faults_.garbageEveryFrames != 0 && framesSent_ % faults_.garbageEveryFrames == 0) emit(faults_.garbage);
    if (faults_.hangUpAfterFrames != 0 && framesSent_ >= faults_.hangUpAfterFrames) hangUpLocked();
}

bool AmplifierModel::streamRunning() const {
    return transmitting_ && config_.stream.rate > 0 && !asleep_ && !hungUp_;
}

void AmplifierModel::restartStream(Clock::time_point now) {
    streamEpoch_ = now;
    streamCount_ = 0;
}

void AmplifierModel::streamDue(Clock::time_point now) {
    if (!streamRunning() || midAnswer_) return;
    constexpr std::uint64_t kMaxBurst = 16;
    const double elapsed = std::chrono::duration<double>(now - streamEpoch_).count();
    const auto due = static_cast<std::uint64_t>(elapsed * config_.stream.rate + 1e-6) + 1;
    if (due <= streamCount_) return;
    std::uint64_t n = due - streamCount_;
    if (n > kMaxBurst) {
        // Behind (slow line or a stalled thread): skip, as a real device would.
        streamCount_ += n - kMaxBurst;
        n = kMaxBurst;
    }
    for (std::uint64_t i = 0; i < n && streamRunning() && !midAnswer_; ++i) {
        sendValueFrame();
        ++streamCount_;
    }
}

void AmplifierModel::emitValue() {
    {
        std::lock_guard lk(mu_);
        sendValueFrame();
    }
    wake();
}

bool AmplifierModel::transmitting() const {
    std::lock_guard lk(mu_);
    return transmitting_;
}

void AmplifierModel::setTransmitting(bool on) {
    {
        std::lock_guard lk(mu_);
        if (on && !transmitting_) restartStream(Clock::now());
        transmitting_ = on;
    }
    wake();
}

StreamSettings AmplifierModel::stream() const {
    std::lock_guard lk(mu_);
    StreamSettings s = config_.stream;
    s.kind = frameKindBySettings();
    return s;
}

void AmplifierModel::setStream(const StreamSettings& settings) {
    {
        std::lock_guard lk(mu_);
        config_.stream = settings;
        showFrameKind(settings.kind);
        transmitting_ = settings.transmitting;
        restartStream(Clock::now());
    }
    wake();
}

double AmplifierModel::valueAt(std::uint64_t index) const {
    std::lock_guard lk(mu_);
    const StreamSettings& s = config_.stream;
    if (!s.replay.empty()) return s.replay[index % s.replay.size()];
    const std::uint32_t period = std::max<std::uint32_t>(s.period, 1);
    const double phase = static_cast<double>(index % period) / static_cast<double>(period);
    switch (s.waveform) {
        case Waveform::Constant: return s.level;
        case Waveform::Ramp: return s.level + s.amplitude * phase;
        case Waveform::Sine: return s.level + s.amplitude * std::sin(2.0 * std::numbers::pi * phase);
        case Waveform::Noise: {
            const double u = static_cast<double>(splitmix64(s.seed ^ splitmix64(index)) >> 11) * 0x1p-53;
            return s.level + s.amplitude * (2.0 * u - 1.0);
        }
    }
    return s.level;
}

std::uint64_t AmplifierModel::framesSent() const {
    std::lock_guard lk(mu_);
    return framesSent_;
}

bool AmplifierModel::bipolar() const {
    std::lock_guard lk(mu_);
    return fieldOf(regs_[cmd::kGetControl], control::kUnipolar) == 0;
}

void AmplifierModel::setAsleep(bool asleep) {
    {
        std::lock_guard lk(mu_);
        if (asleep_ && !asleep) restartStream(Clock::now());
        asleep_ = asleep;
        if (asleep) {
            pending_.clear();
            midAnswer_ = false;
        }
    }
    wake();
}

}  // namespace nxtka::sim
