// The special mode's sleep bit. While a port is active the amplifier runs
// with the bit cleared and the session keeps the wanted value in sleepMode:
// activation takes the bit over, release puts it back, and the special-mode
// exports show and change the kept bit instead of the amplifier's.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka::sleepbit {

// The word with bit 6 set for a non-zero `on`, cleared for 0.
std::uint32_t compose(std::uint32_t word, int on);
// What the amplifier is given while the port is active: bit 6 cleared.
std::uint32_t forAmplifier(std::uint32_t word);
// What the application sees: the amplifier's word with the kept bit.
std::uint32_t withKeptBit(const PortSession& s, std::uint32_t amplifierWord);

// The setters store a new kept bit only on amplifiers with the sleep option,
// or when they clear everything; so without the option the bit can be
// cleared but never set.
// The special-mode word's setter: bit 6 of `word`, when the amplifier has the
// option or the word is 0.
void keepFromWord(PortSession& s, std::uint32_t word);
// The sleep flag's setter: 1 for a non-zero flag, 0 for 0, when the amplifier
// has the option or the flag is 0.
void keepFlag(PortSession& s, int flag);

// Activation: keeps bit 6 of the amplifier's word `mode` and, when it is set,
// writes the word back with the bit cleared. False when that write failed.
bool takeOver(PortSession& s, std::uint32_t mode);
// Activation: reads the special-mode word, then takeOver. False without an
// answer or when the write failed.
bool readAndTakeOver(PortSession& s);
// Release: on amplifiers with the sleep option and a kept bit of 0 or 1,
// reads the word and writes it back with bit 6 equal to the kept bit.
// Failures are ignored.
void restore(PortSession& s);

}  // namespace nxtka::sleepbit
