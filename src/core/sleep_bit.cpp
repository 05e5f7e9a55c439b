#include "core/sleep_bit.h"

#include "core/command_exchange.h"
#include "core/command_table.h"
#include "core/device_rules.h"
#include "core/serial_link.h"
#include "core/word_bits.h"

namespace nxtka::sleepbit {

std::uint32_t compose(std::uint32_t word, int on) {
    return (word & ~specialMode::kSleep.mask()) | (on != 0 ? specialMode::kSleep.mask() : 0u);
}

std::uint32_t forAmplifier(std::uint32_t word) { return compose(word, 0); }

std::uint32_t withKeptBit(const PortSession& s, std::uint32_t amplifierWord) {
    return compose(amplifierWord, s.sleepMode.load() == 1 ? 1 : 0);
}

void keepFromWord(PortSession& s, std::uint32_t word) {
    if (rules::keepsSleepBit(s) || word == 0) s.sleepMode = (word & specialMode::kSleep.mask()) != 0 ? 1 : 0;
}

void keepFlag(PortSession& s, int flag) {
    if (rules::keepsSleepBit(s) || flag == 0) s.sleepMode = flag != 0 ? 1 : 0;
}

bool takeOver(PortSession& s, std::uint32_t mode) {
    const bool asleep = (mode & specialMode::kSleep.mask()) != 0;
    s.sleepMode = asleep ? 1 : 0;
    if (!asleep) return true;
    return sendSetting(s, cmd::kSetSpecialMode, forAmplifier(mode));
}

bool readAndTakeOver(PortSession& s) {
    std::uint32_t mode = 0;
    if (!requestValue(s, cmd::kGetSpecialMode, CommandParam::none(), mode, kAnswerTimeoutMs)) return false;
    return takeOver(s, mode);
}

void restore(PortSession& s) {
    const int kept = s.sleepMode.load();
    if (!rules::keepsSleepBit(s) || (kept != 0 && kept != 1)) return;
    std::uint32_t mode = 0;
    if (requestValue(s, cmd::kGetSpecialMode, CommandParam::none(), mode, kAnswerTimeoutMs))
        sendSetting(s, cmd::kSetSpecialMode, compose(mode, kept));
}

}  // namespace nxtka::sleepbit
