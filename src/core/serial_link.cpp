#include "core/serial_link.h"

#include <array>

namespace nxtka {

void waitMilliseconds(std::uint32_t ms, const PauseClock& clock) {
    const std::uint32_t start = clock.tickCount();
    clock.sleepMs(ms);
    std::uint32_t elapsed = clock.tickCount() - start;
    // Sleep only for what is missing: a sleep that returned on the exact
    // tick must not double the pause.
    while (elapsed <= ms) {
        clock.sleepMs(ms - elapsed + 1);
        elapsed = clock.tickCount() - start;
    }
}

void waitMilliseconds(std::uint32_t ms) { waitMilliseconds(ms, PauseClock{&platform::tickCount, &platform::sleepMs}); }

int startWrite(PortSession& s, const std::uint8_t* bytes, std::uint32_t count) {
    const platform::WriteStart w = s.device->startWrite(bytes, count);
    switch (w.status) {
    case platform::WriteStart::Completed:
        return w.count == count ? 1 : 0;
    case platform::WriteStart::Pending:
        return -1;
    default:
        return 0;
    }
}

bool flushAfterWrite(PortSession& s) {
    std::uint32_t error = 0;
    if (s.device->flush(error)) return true;
    s.flushSupported = 0;
    return error == platform::errorCodes().invalidFunction;
}

int writeBytes(PortSession& s, const std::uint8_t* bytes, std::uint32_t count) {
    const int started = startWrite(s, bytes, count);
    if (started == 0) return 0;
    std::uint32_t transferred = count;
    if (started == -1 && !s.device->waitWrite(transferred)) return 0;
    if (!flushAfterWrite(s)) return 0;
    return transferred == count ? 1 : 0;
}

bool sendCommand(PortSession& s, int code, const std::uint8_t* params, std::uint32_t delayMs) {
    std::array<std::uint8_t, 16> buf{};
    buf[0] = static_cast<std::uint8_t>(code);
    if (params == nullptr) return writeBytes(s, buf.data(), 1) == 1;
    const int n = paramBytesOf(code) > 0 ? paramBytesOf(code) : 0;
    for (int i = 0; i < n; ++i) buf[static_cast<std::size_t>(1 + i)] = params[i];
    const auto total = static_cast<std::uint32_t>(1 + n);
    if (delayMs == 0) return writeBytes(s, buf.data(), total) == 1;
    bool ok = true;
    for (std::uint32_t i = 0; i < total; ++i) {
        waitMilliseconds(delayMs);
        ok = writeBytes(s, &buf[i], 1) == 1 && ok;
    }
    return ok;
}

bool sendLowBytes(PortSession& s, int code, std::uint32_t value) {
    const int n = paramBytesOf(code);
    if (n > 4) return false;  // a 32-bit value cannot carry them
    std::array<std::uint8_t, 5> buf{};
    buf[0] = static_cast<std::uint8_t>(code);
    for (int i = 0; i < n; ++i) {
        buf[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(value >> (8 * (n - 1 - i)));
    }
    // An undefined code (no row in the table) writes nothing at all.
    const std::uint32_t total = n < 0 ? 0u : static_cast<std::uint32_t>(1 + n);
    return writeBytes(s, buf.data(), total) == 1;
}

}  // namespace nxtka
