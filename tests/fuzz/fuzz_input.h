// What every fuzz target shares: a check that stops the run with a message
// (kept in release builds, unlike assert), and a reader that takes numbers
// from the front of the fuzzer's input and zeros once it is used up.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace nxtka::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}

    std::uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }
    std::uint64_t u64() { return std::uint64_t{u32()} << 32 | u32(); }

    // Any double, NaN, infinities and subnormals included.
    double anyDouble() {
        const std::uint64_t bits = u64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    // Mostly numbers near the edges of scaled values: a signed 24-bit count
    // of binary steps 2^-40 .. 2^23 or of decimal steps 10^-15 .. 1, and now
    // and then any double.
    double number() {
        const std::uint8_t how = byte();
        if ((how & 0xC0) == 0xC0) return anyDouble();
        const std::uint32_t raw = u32();
        const auto steps = static_cast<double>(static_cast<std::int32_t>(raw << 8) >> 8);
        if ((how & 0xC0) == 0x80) {
            double ten = 1.0;
            for (int i = 0; i < (how & 0x0F); ++i) ten *= 10.0;
            return steps / ten;
        }
        return std::ldexp(steps, (how & 0x3F) - 40);
    }

    const std::uint8_t* rest() const { return p_; }
    std::size_t left() const { return left_; }

private:
    const std::uint8_t* p_;
    std::size_t left_;
};

}  // namespace nxtka::fuzz
