#include "active_port.h"

#include "cli_core.h"
#include "device_check.h"
#include "nxtka.h"
#include "port_list.h"
#include "signals.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

constexpr std::int32_t kDefaultBaud = 38400;
constexpr std::int32_t kRingCapacity = 1 << 16;

}  // namespace

std::uint32_t portNumberOf(const Target& target) {
    const std::int64_t port = target.port.value_or(0);
    if (port < 0 || port > 1023)
        throw ToolError("port " + std::to_string(port) + " is out of range (the library serves ports 0 to 1023)",
                        kExitUsage);
    return static_cast<std::uint32_t>(port);
}

void checkTarget(const Target& target) {
    if (!target.device && !target.port)
        throw ToolError("say where the amplifier is: --device PATH or --port N", kExitUsage);
    if (target.device && target.device->empty())
        throw ToolError("--device needs a path, e.g. /dev/ttyUSB0", kExitUsage);
    if (target.device && target.device->size() >= NXTKA_DEVICE_NAME_MAX)
        throw ToolError("device name is too long (at most " + std::to_string(NXTKA_DEVICE_NAME_MAX - 1) +
                            " bytes): " + *target.device,
                        kExitUsage);
    portNumberOf(target);
    if (target.baud && (*target.baud <= 0 || *target.baud > 0x7FFFFFFF))
        throw ToolError("line speed " + std::to_string(*target.baud) + " is not a positive bit rate", kExitUsage);
}

namespace {

std::string usersText(const std::vector<std::string>& users) {
    std::string s;
    for (std::size_t i = 0; i < users.size(); ++i) s += (i ? "; " : "") + users[i];
    return s;
}

}  // namespace

ActivePort::ActivePort(const Target& target, SignalWatch& signals) {
    try {
        activate(target, signals);
    } catch (...) {
        if (mapped_) NXsetDeviceName(port_, nullptr);
        throw;
    }
}

void ActivePort::activate(const Target& target, SignalWatch& signals) {
    checkTarget(target);
    port_ = portNumberOf(target);
    baud_ = target.baud ? static_cast<std::int32_t>(*target.baud) : kDefaultBaud;

    if (target.device) {
        if (NXsetDeviceName(port_, target.device->c_str()) != 0)
            throw ToolError("device name is too long (at most " + std::to_string(NXTKA_DEVICE_NAME_MAX - 1) +
                                " bytes): " + *target.device,
                            kExitUsage);
        mapped_ = true;
    }
    char name[NXTKA_DEVICE_NAME_MAX] = {};
    if (NXgetDeviceName(port_, name, sizeof name) < 0) throw ToolError("the library has no device name for port " +
                                                                       std::to_string(port_));
    device_ = name;
    if (auto problem = precheckDevice(device_)) {
        struct stat st {};
        if (::lstat(device_.c_str(), &st) != 0 && errno == ENOENT) *problem += "; " + presentPortsText();
        throw ToolError(*problem);
    }

    ActivationParams params{};
    params.size = static_cast<std::int32_t>(sizeof params);
    params.bufferCapacity = target.ring.value_or(kRingCapacity);
    params.flags = NXTKA_FLAG_BAUDRATE;
    params.baudRate = baud_;

    // Activation cannot be cut short; Ctrl-C during it ends the process.
    const bool showWait = ::isatty(STDERR_FILENO) != 0;
    if (showWait) std::fprintf(stderr, "activating %s ...", device_.c_str());
    signals.setInterruptNow(true);
    const std::int32_t result = TKAactivateExtended(port_, &params);
    signals.setInterruptNow(false);
    if (showWait) std::fprintf(stderr, "\r\033[K");

    if (result != 0) {
        if (auto problem = explainOpenFailure(device_)) throw ToolError(*problem);
        // A program with the device open without a lock (cat, a terminal
        // program, a modem manager) takes the amplifier's answers.
        if (const auto users = deviceUsers(device_); !users.empty())
            throw ToolError("no answer from an amplifier on " + device_ + ": another program has it open (" +
                            usersText(users) + ") and may take the answers; close that program");
        throw ToolError("no answer from an amplifier on " + device_ + " at " + std::to_string(baud_) +
                        " bit/s (check that it is powered and connected, and its line speed: --baud)");
    }
    active_ = true;
}

ActivePort::~ActivePort() { release(); }

void ActivePort::release() {
    if (active_) TKArelease(port_);
    active_ = false;
    if (mapped_) NXsetDeviceName(port_, nullptr);
    mapped_ = false;
}

}  // namespace nxtka_cli
