#include "procedures.h"

#include "nxtka.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

namespace nxtka_cli {
namespace {

struct Procedure {
    const char* name;
    std::int32_t (*run)(std::uint32_t port);
    const char* what;
};

std::int32_t NXTKA_CALL calibrate(std::uint32_t port) { return TKAsetCal(port); }
std::int32_t NXTKA_CALL adjustZero(std::uint32_t port) { return TKAsetZero(port); }
std::int32_t NXTKA_CALL adjustScale(std::uint32_t port) { return TKAsetScale(port); }
std::int32_t NXTKA_CALL adjustOffset(std::uint32_t port) { return TKAsetOffset(port); }

constexpr Procedure kProcedures[] = {
    {"zero", adjustZero, "zero adjustment"},
    {"scale", adjustScale, "scale adjustment"},
    {"offset", adjustOffset, "offset adjustment"},
    {"cal", calibrate, "calibration"},
};

const Procedure& procedureNamed(const std::string& which) {
    for (const Procedure& p : kProcedures)
        if (which == p.name) return p;
    throw ToolError("adjust takes zero, scale, offset or cal, not '" + which + "'", 2);
}

// Why the calling thread's last library call failed.
std::string lastFailure() {
    char text[200] = {};
    NXgetLastFailure(text, static_cast<std::int32_t>(sizeof text));
    return text[0] != 0 ? text : "no reason given";
}

struct ProcedureResult {
    std::int32_t result;
    std::string reason;
};

}  // namespace

void checkProcedureName(const std::string& which) { (void)procedureNamed(which); }

int runAdjust(const Target& target, const std::string& which, SignalWatch& signals) {
    const Procedure& p = procedureNamed(which);
    checkTarget(target);
    ActivePort port(target, signals);
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::fprintf(stderr, "%s on %s: values stop while the amplifier works (up to about 10 s)\n", p.what,
                 port.device().c_str());
    const auto start = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, [&] {
        const std::int32_t r = p.run(port.port());
        return ProcedureResult{r, r < 0 ? lastFailure() : std::string()};  // the reason is kept per thread
    });
    static const char kSpinner[] = "|/-\\";
    for (int tick = 0; result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++tick) {
        if (!terminal) continue;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "\r  %c waiting %.1f s ", kSpinner[tick % 4], s);
        std::fflush(stderr);
    }
    const ProcedureResult outcome = result.get();
    const std::int32_t r = outcome.result;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (terminal) std::fprintf(stderr, "\r%30s\r", "");
    if (r < 0)
        throw ToolError(std::string(p.what) + " on " + port.device() +
                        " failed (" + outcome.reason + ")");
    if (r == 0) {
        std::printf("%s: the amplifier did not come back within %.1f s\n", p.what, s);
        return 1;
    }
    std::printf("%s done: the amplifier came back after %.1f s\n", p.what, s);
    return 0;
}

int runRanges(const Target& target, SignalWatch& signals) {
    checkTarget(target);
    ActivePort port(target, signals);
    int shown = 0;
    std::printf("entry   status  value\n");
    for (std::uint32_t first = 0; first < 16; ++first) {
        for (std::uint32_t second = 0; second < 16; ++second) {
            double value = 0;
            const std::int32_t status = TKAgetRanges(port.port(), first, second, &value);
            if (status < 0)
                throw ToolError("reading range entry " + std::to_string(first) + "/" + std::to_string(second) +
                                " failed (" + lastFailure() + ")");
            if (status == 0 && value == -1.0) continue;  // no such entry
            if (status == 0 && value == 1.0) break;      // the group ends here
            std::printf("%2u/%-2u   %6d  %.2f\n", first, second, status, value);
            ++shown;
        }
    }
    if (shown == 0) std::printf("(the range table is empty)\n");
    return 0;
}

}  // namespace nxtka_cli
