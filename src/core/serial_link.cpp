#include "core/serial_link.h"

#include "core/last_failure.h"

#include <array>

namespace nxtka {
namespace {

int writeFailed(std::uint32_t systemError) {
    const std::string text = systemError != 0 ? platform::systemErrorText(systemError) : std::string();
    recordFailure(Failure::Write, text.c_str());
    return 0;
}

}  // namespace

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
        if (w.count == count) return 1;
        recordFailure(Failure::Write, "not every byte was taken");
        return 0;
    case platform::WriteStart::Pending:
        return -1;
    default:
        return writeFailed(w.error);
    }
}

bool flushAfterWrite(PortSession& s) {
    std::uint32_t error = 0;
    if (s.device->flush(error)) return true;
    s.flushSupported = 0;
    if (error == platform::errorCodes().invalidFunction) return true;
    writeFailed(error);
    return false;
}

int writeBytes(PortSession& s, const std::uint8_t* bytes, std::uint32_t count) {
    const int started = startWrite(s, bytes, count);
    if (started == 0) return 0;
    std::uint32_t transferred = count;
    if (started == -1 && !s.device->waitWrite(transferred)) return writeFailed(0);
    if (!flushAfterWrite(s)) return 0;
    if (transferred == count) return 1;
    recordFailure(Failure::Write, "not every byte was taken");
    return 0;
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

std::array<std::uint8_t, 4> lowBytes(std::uint32_t value, int count) {
    std::array<std::uint8_t, 4> bytes{};
    for (int i = 0; i < count && i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * (count - 1 - i)));
    }
    return bytes;
}

bool sendSetting(PortSession& s, ValueCommand command, std::uint32_t value) {
    return sendCommand(s, command.code, lowBytes(value, paramBytesOf(command.code)).data());
}

}  // namespace nxtka
