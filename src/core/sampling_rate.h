// The sampling-rate word: frequency, factor and the two protocol bits that
// say how the amplifier encodes them. The protocol is learned from the
// amplifier's own answer and kept in the session until the amplifier is
// identified again. Every routine runs under the caller's guard.
#pragma once

#include "core/session.h"

#include <cstdint>

namespace nxtka::sampling {

// Reads the word, keeps its protocol, and gives the frequency and factor it
// holds. 0, or -1 (outputs untouched).
std::int32_t readRate(PortSession& s, double* frequency, std::int32_t* factor);

// The kept protocol (0..3), read from the amplifier first while unknown; -1
// when the read fails or still leaves it unknown.
std::int32_t protocol(PortSession& s);

// One bit of the known protocol (codec::kProtocol...): 1 or 0; -1 as protocol().
std::int32_t protocolBit(PortSession& s, std::uint32_t bit);

// The frequency and the factor from one read; -1 (-1.0) when it fails. A
// factor exponent of 31 or more is no factor: the answer's failure, -1.
double frequency(PortSession& s);
std::int32_t factor(PortSession& s);

// Encodes the frequency and factor with the known protocol and writes them.
// A value the encoding cannot carry is refused (after the port checks). 0 or -1.
std::int32_t writeRate(PortSession& s, double frequency, std::int32_t factor);

}  // namespace nxtka::sampling
