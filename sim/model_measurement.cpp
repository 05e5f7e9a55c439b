#include "amplifier_model.h"

#include "core/command_table.h"

#include <cmath>

namespace nxtka::sim {

namespace {

constexpr std::uint32_t kNormSign = 0x800000;
constexpr double kNormUnit = 5250020.0;   // raw norm of a factor of 1
constexpr double kMantissaLimit = 1.5872380952380953;  // 0x7FFFFF / kNormUnit, rounded up
constexpr std::uint64_t kAvailable = 0xA0;

// A norm as the amplifier stores it: decimal point d and raw r with
// norm = r / 5250020 x 10^(d - 1).
struct StoredNorm {
    std::uint64_t decimalPoint;
    std::uint64_t raw;
};

StoredNorm storedNorm(double norm) {
    const double magnitude = std::fabs(norm);
    if (!(magnitude > 0.0) || !std::isfinite(magnitude)) return {1, 0};
    int e = static_cast<int>(std::floor(std::log10(magnitude)));
    double m = magnitude / std::pow(10.0, e);
    if (m >= kMantissaLimit) {
        m /= 10.0;
        ++e;
    }
    const auto raw = static_cast<std::uint64_t>(std::llround(m * kNormUnit)) & 0x7FFFFF;
    return {static_cast<std::uint64_t>(std::max(e + 1, 0)) & 0xFF, raw | (norm < 0 ? kNormSign : 0u)};
}

}  // namespace

// Adjustment procedures, display norm computation, range table and command
// availability.
void AmplifierModel::installMeasurementHandlers() {
    using R = std::optional<std::uint64_t>;
    for (int code : {cmd::kCalibrate.code, cmd::kAdjustZero.code, cmd::kAdjustScale.code, cmd::kAdjustOffset.code}) {
        on(code, [this](const ReceivedCommand& c) -> R {
            procedure_ = c.code;
            return std::nullopt;
        });
    }
    // GetOffset is the host's marker: after a procedure it opens the quiet window.
    on(cmd::kGetOffset, [this](const ReceivedCommand&) -> R {
        if (procedure_ < 0) return regAt(cmd::kGetOffset);
        quietProcedure_ = procedure_;
        procedure_ = -1;
        if (quietUntil_ == Clock::time_point::max()) quietTransmitting_ = transmitting_;
        transmitting_ = false;
        valueRequested_ = false;
        quietUntil_ = Clock::now() + std::chrono::milliseconds(adjustment_.quietMs);
        if (!adjustment_.answerMarker) return std::nullopt;
        return regAt(cmd::kGetOffset);
    });
    on(cmd::kSingleValue, [this](const ReceivedCommand&) -> R {
        if (quietUntil_ != Clock::time_point::max()) {
            valueRequested_ = true;
        } else {
            sendValueFrame();
        }
        return std::nullopt;
    });

    on(cmd::kDispCalcNorm, [this](const ReceivedCommand&) -> R {
        const StoredNorm n = storedNorm(calculatedNorm_);
        regAt(cmd::kDispGetDPoint) = n.decimalPoint;
        regAt(cmd::kDispGetNorm) = n.raw;
        return std::nullopt;
    });

    on(cmd::kGetRanges, [this](const ReceivedCommand& c) -> R { return ranges_[c.params[0]]; });
    on(cmd::kWriteRanges, [this](const ReceivedCommand& c) -> R {
        ranges_[c.params[0]] = (kRangeWritten << 24) | static_cast<std::uint32_t>(c.value() & 0xFFFFFF);
        return std::nullopt;
    });
    on(cmd::kIsCommandAvailable, [this](const ReceivedCommand& c) -> R {
        const auto has = [this](std::uint8_t code) {
            return available_ ? available_->test(code) : isDefinedCommand(code);
        };
        return has(c.params[0]) && has(c.params[1]) ? kAvailable : 0x00;
    });
}

void AmplifierModel::adjustmentDue(Clock::time_point now) {
    if (now < quietUntil_) return;
    quietUntil_ = Clock::time_point::max();
    if (quietTransmitting_ && !transmitting_) {
        transmitting_ = true;
        restartStream(now);
    }
    if (adjustment_.end == AdjustmentEnd::Semicolon) {
        queueAnswer(static_cast<std::uint8_t>(quietProcedure_), {';'});
    } else if (config_.level == 0 || valueRequested_) {
        sendValueFrame();
    }
    quietProcedure_ = -1;
}

Adjustment AmplifierModel::adjustment() const {
    std::lock_guard lk(mu_);
    return adjustment_;
}

void AmplifierModel::setAdjustment(const Adjustment& a) {
    std::lock_guard lk(mu_);
    adjustment_ = a;
}

bool AmplifierModel::adjusting() const {
    std::lock_guard lk(mu_);
    return quietUntil_ != Clock::time_point::max();
}

void AmplifierModel::setCalculatedNorm(double norm) {
    std::lock_guard lk(mu_);
    calculatedNorm_ = norm;
}

void AmplifierModel::setRangeEntry(int first, int second, std::uint32_t answer) {
    std::lock_guard lk(mu_);
    ranges_[static_cast<std::size_t>(((first & 0xF) << 4) | (second & 0xF))] = answer;
}

void AmplifierModel::clearRangeTable() {
    std::lock_guard lk(mu_);
    ranges_.fill(0xFFFFFFFFu);
}

void AmplifierModel::setAvailableCommands(std::optional<std::bitset<256>> codes) {
    std::lock_guard lk(mu_);
    available_ = codes;
}

}  // namespace nxtka::sim
