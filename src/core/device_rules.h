// What an amplifier can do, decided once from its protocol level and option
// bits (as the session caches them). Each rule has one name here; callers never
// compare levels or option bits themselves.
#pragma once

#include "core/session.h"
#include "core/word_bits.h"

namespace nxtka::rules {

inline bool hasOption(const PortSession& s, Field bit) {
    return (static_cast<std::uint32_t>(s.optionBits.load()) & bit.mask()) != 0;
}

// Identification: answers the options word and the firmware version.
inline bool hasOptionsWord(const PortSession& s) { return s.deviceLevel.load() >= 1; }
// Identification and release: the user interface is locked while the port is active.
inline bool locksUserInterface(const PortSession& s) { return s.deviceLevel.load() >= 2; }
// Display norm: decimal exponents up to 8 instead of 6.
inline bool hasWideDisplayNorm(const PortSession& s) { return s.deviceLevel.load() >= 2; }
// Channel by its own query; below, bit 17 of the control word.
inline bool hasChannelCommand(const PortSession& s) { return s.deviceLevel.load() >= 3; }
// Settings lock by command 146 with an identifier; below, mode bit 7.
inline bool hasModeLockCommand(const PortSession& s) { return s.deviceLevel.load() >= 3; }
// CAN settings exist at all.
inline bool mayHaveCan(const PortSession& s) { return s.deviceLevel.load() >= 3; }
// Display flags taken from the firmware version at identification.
inline bool hasDisplayFlags(const PortSession& s) { return s.deviceLevel.load() >= 4; }
// Linearization tables in the layout with a header.
inline bool hasLinearHeaderLayout(const PortSession& s) { return s.deviceLevel.load() >= 4; }
// Adjustment procedures end by asking for one measured value.
inline bool requestsValueAfterAdjustment(const PortSession& s) { return s.deviceLevel.load() >= 1; }
// Input range kept in the range table.
inline bool usesRangeTable(const PortSession& s) { return s.deviceLevel.load() >= 5; }

// Sampling frequency: divisor 1..65535 instead of 19..2000.
inline bool hasExtendedFrequency(const PortSession& s) { return hasOption(s, options::kExtension3); }
// Sampling frequency read by its own query instead of the control word.
inline bool readsFrequencyByQuery(const PortSession& s) {
    return s.deviceLevel.load() >= 3 || hasExtendedFrequency(s);
}
// The library keeps the special mode's sleep bit and restores it at release.
inline bool keepsSleepBit(const PortSession& s) { return hasOption(s, options::kSleepMode); }
// Linearization tables at all.
inline bool hasLinearization(const PortSession& s) { return hasOption(s, options::kLinear); }
// The single-byte flag commands of the linearization tables in the layout
// without a header.
inline bool hasLegacyLinearFlags(const PortSession& s) { return s.deviceLevel.load() >= 4; }

// Display norm: negative norms only with both the firmware and the activation flag.
inline bool allowsNegativeDisplayNorm(const PortSession& s) {
    const std::uint32_t both = displayFlag::kFirmwareDisplay.mask() | displayFlag::kActivationBit3.mask();
    return (static_cast<std::uint32_t>(s.displayFlags.load()) & both) == both;
}

}  // namespace nxtka::rules
