// Speeds that travel as a position in a table: the amplifier's serial line
// speed and the CAN bit rate. Lookups go by position (the serial table is not
// sorted by speed).
#pragma once

#include <array>
#include <cstdint>

namespace nxtka::speeds {

// Serial line speed in bit/s by the index of SetBaud / GetBaud.
inline constexpr std::array<std::int32_t, 12> kSerial{4800,   9600,   19200,   38400,  57600,  115200,
                                                      250000, 625000, 1250000, 230400, 460800, 921600};

// CAN bit rate in bit/s by the index in CAN setting 126; index 0 is no rate.
inline constexpr std::array<std::int32_t, 9> kCan{-1, 50000, 62500, 83333, 100000, 125000, 250000, 500000, 1000000};

// The first position holding `rate` (a rate of 0 or less has none); -1 when none.
template <std::size_t N>
constexpr std::int32_t positionOf(const std::array<std::int32_t, N>& table, std::int32_t rate) {
    if (rate <= 0) return -1;
    for (std::size_t i = 0; i < N; ++i)
        if (table[i] == rate) return static_cast<std::int32_t>(i);
    return -1;
}

// The rate at a position; -1 beyond the table (and for a negative position).
template <std::size_t N>
constexpr std::int32_t rateAt(const std::array<std::int32_t, N>& table, std::int32_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= N) return -1;
    return table[static_cast<std::size_t>(position)];
}

}  // namespace nxtka::speeds
