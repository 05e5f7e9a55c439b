// The identification sequence after the control-word probe, shared by
// activation and re-identification.
#include "core/activation.h"
#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_exchange.h"
#include "core/device_rules.h"
#include "core/display_state.h"
#include "core/last_failure.h"
#include "core/serial_link.h"
#include "core/sleep_bit.h"

namespace nxtka {
namespace {

using namespace cmd;


constexpr int kFlagFirmwareDisplay = 0x10;
constexpr int kFlagActivationBit3 = 0x20;
constexpr int kFlagNormSign = 0x01;

bool exchange(PortSession& s, WordQuery query, std::uint32_t& value) {
    return requestValue(s, query, CommandParam::none(), value, kAnswerTimeoutMs);
}

}  // namespace

bool probeControlWord(PortSession& s, std::uint32_t timeoutMs, bool identify, std::uint32_t& controlWord) {
    std::uint32_t value = 0;
    const bool ok = identify ? requestValue(s, kIdentify, CommandParam::of(3), value, timeoutMs)
                             : requestValue(s, kGetControl, CommandParam::none(), value, timeoutMs);
    if (ok) controlWord = value;
    return ok;
}

bool identifyAfterProbe(PortSession& s, const IdentifyOptions& o) {
    const int level = s.deviceLevel.load();
    std::uint32_t v = 0;
    if (level >= 2) {
        if (!exchange(s, kLockInterface, v)) return false;
        if (v != 1) {
            recordAnswerFailure("the user interface was not locked", v);
            return false;
        }
    }

    if (level >= 1) {
        const bool haveOptions = exchange(s, kGetOptions, v);
        if (haveOptions) s.optionBits = static_cast<int>(v);
        if (o.readSleepMode && s.sleepMode.load() == -1) {
            if (haveOptions && rules::keepsSleepBit(s)) {
                if (!sleepbit::readAndTakeOver(s)) return false;
            } else {
                s.sleepMode = 0;
            }
        }
        if (!haveOptions) return false;
        const bool haveFirmware = exchange(s, kGetFirmware, v);
        if (haveFirmware) s.firmwareVersion = static_cast<int>(v);
        if (!haveFirmware && o.requireFirmware) return false;
    } else if (o.readSleepMode && s.sleepMode.load() == -1) {
        s.sleepMode = 0;
    }

    if (level >= 4) {
        const int threshold = (static_cast<std::uint32_t>(s.optionBits.load()) & options::kExtension21.mask()) != 0 ? 0xF02 : 0xC08;
        s.displayFlags = s.firmwareVersion.load() >= threshold ? kFlagFirmwareDisplay : 0;
    }

    std::uint32_t decimalPoint = 0;
    const bool haveDecimalPoint = exchange(s, kDispGetDPoint, decimalPoint);
    if (haveDecimalPoint) s.displayDecimalPoint = static_cast<int>(decimalPoint);
    std::uint32_t norm = 0;
    const bool haveNorm = exchange(s, kDispGetNorm, norm);
    if (haveNorm) {
        if (o.setDisplayFlags && o.displayFlagBit3) {
            int flags = s.displayFlags.load() | kFlagActivationBit3;
            if ((norm & kDisplayNormSignBit) != 0 && (flags & kFlagFirmwareDisplay) != 0) flags |= kFlagNormSign;
            s.displayFlags = flags;
        }
        s.displayNormRaw = norm & ~kDisplayNormSignBit;
    }
    if (!haveDecimalPoint || !haveNorm) return false;
    if (s.displayNormRaw.load() == 0) {
        recordAnswerFailure("display norm of 0", norm);
        return false;
    }
    storeDisplayNorm(s, s.displayDecimalPoint.load(), s.displayNormRaw.load());
    return true;
}

}  // namespace nxtka
