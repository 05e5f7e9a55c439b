// One activated port of the library, released when the object goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace nxtka_cli {

class SignalWatch;

// Where the amplifier is: a device path (mapped to a port number with
// NXsetDeviceName), a port number with the library's default device name, or
// both; and the line speed.
struct Target {
    std::optional<std::string> device;
    std::optional<std::int64_t> port;
    std::optional<std::int64_t> baud;
    // Values the library keeps between reads (default 65536).
    std::optional<std::int32_t> ring;
};

// The port number a target uses: --port, else 0. Throws ToolError when it
// is outside 0..1023.
std::uint32_t portNumberOf(const Target& target);

// Every check of a target that needs no device: a device or a port is given,
// the device name is not empty and fits the library, the port number and the
// line speed are in range. Throws ToolError with status 2.
void checkTarget(const Target& target);

class ActivePort {
public:
    // Activates through the library. On failure throws ToolError with one
    // line saying what failed and what to check.
    ActivePort(const Target& target, SignalWatch& signals);
    ~ActivePort();
    ActivePort(const ActivePort&) = delete;
    ActivePort& operator=(const ActivePort&) = delete;

    std::uint32_t port() const { return port_; }
    const std::string& device() const { return device_; }
    std::int32_t baud() const { return baud_; }
    void release();

private:
    void activate(const Target& target, SignalWatch& signals);

    std::uint32_t port_ = 0;
    std::string device_;
    std::int32_t baud_ = 38400;
    bool mapped_ = false;
    bool active_ = false;
};

}  // namespace nxtka_cli
