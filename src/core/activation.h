// Activation, identification and release of a port.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka {

// Undoes everything an activation built: restores the amplifier's sleep bit
// and unlocks its user interface, stops the receive thread, closes the device,
// frees the session. Releases the two port mutexes passed (either may be
// null). Never fails; a null session does nothing.
void closeSession(PortSession* s, platform::Mutex* apiMutex, platform::Mutex* ringMutex);

// Asks for the control word: code 42 (the identification request, which also
// tells the protocol level) or code 3. True with the word when answered.
bool probeControlWord(PortSession& s, std::uint32_t timeoutMs, bool identify, std::uint32_t& controlWord);

// The identification shared by activation and re-identification: lock of the
// user interface, option bits, firmware and display state after the probe.
// Fills the session; false on a missing required answer.
struct IdentifyOptions {
    bool requireFirmware;   // re-identification fails without it, activation does not
    bool readSleepMode;     // activation reads the special mode and clears the sleep bit
    bool displayFlagBit3;   // activation flag: display-norm sign affects text values
    bool setDisplayFlags;   // activation rebuilds display flags from the norm answer
};
bool identifyAfterProbe(PortSession& s, const IdentifyOptions& o);

}  // namespace nxtka
