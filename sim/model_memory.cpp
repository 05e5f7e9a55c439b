#include "amplifier_model.h"

#include "core/command_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace nxtka::sim {

namespace {
constexpr std::uint64_t kSuccess = 0xA0;
constexpr std::uint64_t kLegacyWordStatus = 0xA1;  // status 1: no header-described layout
constexpr std::uint64_t kCheckFailed = 0xA1;
constexpr std::uint64_t kFlagNotSet = 0x5E;       // status 30
constexpr std::size_t kLayoutWord = 252;
constexpr std::uint8_t kFlagSet = 0x80;
// Where the "LIN" marker and the flag byte stand, by layout.
constexpr std::size_t kHeaderMarkerAddress = 0;
constexpr std::size_t kLegacyMarkerAddress = 253;
constexpr std::size_t kHeaderFlagAddress = 247;
constexpr std::size_t kLegacyFlagAddress = 248;
constexpr char kMarker[] = "LIN";
bool isSuccess(int status) { return (status & 0xF0) == 0xA0; }
bool isFlagByte(std::uint8_t b) { return b == 'S' || b == 'I'; }
}  // namespace

void AmplifierModel::scriptMemory(std::size_t address, std::vector<int> statuses) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    auto& script = memoryScript_[address];
    script.insert(script.end(), statuses.begin(), statuses.end());
}

void AmplifierModel::setLinearHeaderLayout(bool header) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    linearHeaderLayout_ = header;
}

std::optional<int> AmplifierModel::nextMemoryStatus(std::size_t address) {
    auto it = memoryScript_.find(address);
    if (it == memoryScript_.end() || it->second.empty()) return std::nullopt;
    const int status = it->second.front();
    it->second.pop_front();
    return status;
}

bool AmplifierModel::linearMarkerPresent() const {
    const std::size_t at = linearHeaderLayout_ ? kHeaderMarkerAddress : kLegacyMarkerAddress;
    return std::memcmp(&memory_[at], kMarker, 3) == 0;
}

// In the described layout the marker overlays the header; the amplifier
// keeps the header while the marker stands and puts it back when the marker
// is cleared with spaces.
void AmplifierModel::writeMemoryCell(std::size_t address, std::uint8_t data) {
    const bool inHeader = linearHeaderLayout_ && address < savedHeader_.size();
    if (inHeader && !headerSaved_) {
        std::copy_n(memory_.begin(), savedHeader_.size(), savedHeader_.begin());
        headerSaved_ = true;
    }
    memory_[address] = data;
    if (inHeader && std::memcmp(memory_.data(), "   ", 3) == 0) {
        std::copy(savedHeader_.begin(), savedHeader_.end(), memory_.begin());
        headerSaved_ = false;
    }
}

std::size_t AmplifierModel::linearFlagAddress() const {
    return linearHeaderLayout_ ? kHeaderFlagAddress : kLegacyFlagAddress;
}

// Memory cells and linearization tables.
void AmplifierModel::installMemoryHandlers() {
    using R = std::optional<std::uint64_t>;
    // ReadMemory reads the word at index*4: four data bytes, then the status.
    on(cmd::kReadMemory, [this](const ReceivedCommand& c) -> R {
        const std::size_t a = static_cast<std::size_t>(c.params[0]) * 4;
        std::uint64_t status = a == kLayoutWord && !linearHeaderLayout_ ? kLegacyWordStatus : kSuccess;
        if (const auto scripted = nextMemoryStatus(a)) {
            if (*scripted == kMemoryNoAnswer) return std::nullopt;
            status = static_cast<std::uint64_t>(*scripted & 0xFF);
        }
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | memory_[a + k];
        return (v << 8) | status;
    });
    // WriteMemory: P1 = address bits 9..8 plus the flag 0x80, P2 the low
    // address byte, P3 the data byte.
    on(cmd::kWriteMemory, [this](const ReceivedCommand& c) -> R {
        const std::size_t a = (static_cast<std::size_t>(c.params[0] & 3) << 8) | c.params[1];
        const bool flag = (c.params[0] & kFlagSet) != 0;
        const std::uint8_t data = c.params[2] ^ (faults_.flipWrittenBit.test(a) ? 1 : 0);
        if (const auto scripted = nextMemoryStatus(a)) {
            if (*scripted == kMemoryNoAnswer) return std::nullopt;
            if (!flag && isSuccess(*scripted)) writeMemoryCell(a, data);
            return static_cast<std::uint64_t>(*scripted & 0xFF);
        }
        if (a == linearFlagAddress() && flag) {
            memory_[a] = data;
            return kSuccess;
        }
        if (a == linearFlagAddress() && isFlagByte(data)) return memory_[a] == data ? kSuccess : kFlagNotSet;
        if (flag) return linearMarkerPresent() ? kSuccess : kCheckFailed;
        writeMemoryCell(a, data);
        return kSuccess;
    });
}

}  // namespace nxtka::sim
