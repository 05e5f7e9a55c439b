// `nxtka send`: raw bytes for service use, through the library or, with
// --wait, directly on the device to see what comes back.
#include "cli_core.h"
#include "json_out.h"
#include "library_failure.h"
#include "nxtka.h"
#include "raw_exchange.h"
#include "subcommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace nxtka_cli {
namespace {

struct SendArgs {
    std::vector<std::string> words;
    std::optional<std::int64_t> waitMs;
} args;

void addOptions(CLI::App& cmd) {
    cmd.add_option("bytes", args.words, "bytes in hex")->required();
    cmd.add_option("-w,--wait", args.waitMs,
                   "send directly, not through the library, and show the bytes that come back within MS "
                   "milliseconds");
}

std::string bytesText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

int sendAndWait(const Target& target, const std::vector<std::uint8_t>& bytes, std::int64_t waitMs, bool json) {
    if (waitMs < 0 || waitMs > 60000) throw ToolError("--wait takes 0 to 60000 ms", kExitUsage);
    const std::int64_t baud = target.baud.value_or(38400);
    if (!rawSpeedSupported(baud))
        throw ToolError("--wait needs a standard line speed (1200 to 921600 bit/s), not " + std::to_string(baud),
                        kExitUsage);
    std::string device;
    if (target.device) {
        device = *target.device;
    } else {
        char name[NXTKA_DEVICE_NAME_MAX] = {};
        if (NXgetDeviceName(portNumberOf(target), name, sizeof name) < 0)
            throw ToolError("the library has no device name for port " + std::to_string(portNumberOf(target)));
        device = name;
    }
    const auto back = exchangeRaw(device, static_cast<std::int32_t>(baud), bytes, static_cast<int>(waitMs));
    if (json) {
        std::printf("%s\n", sendJson(device, bytes, &back, waitMs).c_str());
        return kExitDone;
    }
    std::printf("sent %s to %s: %s\n", bytesText(bytes.size()).c_str(), device.c_str(), formatHex(bytes).c_str());
    if (back.empty())
        std::printf("no bytes came back within %lld ms\n", static_cast<long long>(waitMs));
    else
        std::printf("received %s within %lld ms: %s\n", bytesText(back.size()).c_str(), static_cast<long long>(waitMs),
                    formatHex(back).c_str());
    return kExitDone;
}

int run(Context& context) {
    checkTarget(context.target);
    const std::vector<std::uint8_t> bytes = parseHexBytes(args.words);
    if (args.waitMs) return sendAndWait(context.target, bytes, *args.waitMs, context.json);
    ActivePort port(context.target, context.signals());
    if (NXsendBytes(port.port(), bytes.data(), static_cast<std::int32_t>(bytes.size())) != 0)
        throw ToolError("sending to " + port.device() + " failed: " + lastLibraryFailure().text +
                        " (check the connection)");
    if (context.json)
        std::printf("%s\n", sendJson(port.device(), bytes, nullptr, 0).c_str());
    else
        std::printf("sent %s to %s: %s\n", bytesText(bytes.size()).c_str(), port.device().c_str(),
                    formatHex(bytes).c_str());
    return kExitDone;
}

constexpr const char* kExamples =
    "Examples:\n"
    "  nxtka send -d /dev/ttyUSB0 3b                ask for one value (command 59)\n"
    "  nxtka send -d /dev/ttyUSB0 --wait 200 2a 03  and show the bytes that came back\n";

}  // namespace

extern const Subcommand kSendCommand{
    "send", "send raw bytes (service use): 2a 03, 2a03, 0x2a", true, true, kExamples, addOptions, run};

}  // namespace nxtka_cli
