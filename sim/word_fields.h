// Reading and changing a named field of a word the model keeps (the fields
// are those of core/word_bits.h).
#pragma once

#include "core/word_bits.h"

#include <cstdint>

namespace nxtka::sim {

constexpr std::uint64_t fieldOf(std::uint64_t word, Field f) { return (word & f.mask()) >> f.shift; }
constexpr std::uint64_t withField(std::uint64_t word, Field f, std::uint64_t value) {
    return (word & ~std::uint64_t{f.mask()}) | ((value << f.shift) & f.mask());
}
constexpr std::uint64_t fieldMax(Field f) { return f.mask() >> f.shift; }

}  // namespace nxtka::sim
