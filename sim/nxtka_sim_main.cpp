// nxtka-sim: a simulated amplifier on a pseudo-terminal.
//
// Prints "device: /dev/pts/N" (and "link: PATH" when --symlink was given),
// then "ready", and serves the amplifier until SIGINT or SIGTERM. Point the
// library at it with NXsetDeviceName(port, "/dev/pts/N").
#include "amplifier_model.h"
#include "pty_amplifier.h"

#include "core/command_table.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <pthread.h>
#include <string>

namespace {

using namespace nxtka::sim;

void logCommand(const ReceivedCommand& c) {
    static const Clock::time_point start = Clock::now();
    const double t = std::chrono::duration<double>(c.at - start).count();
    const char* name = nxtka::commandName(c.code);
    std::fprintf(stderr, "%10.4f cmd %3u %s", t, static_cast<unsigned>(c.code), name ? name : "(undefined)");
    for (std::uint8_t b : c.params) std::fprintf(stderr, " %02X", static_cast<unsigned>(b));
    std::fputc('\n', stderr);
}

// "answer to GetOptions (54)"
std::string answerTo(nxtka::Command command) {
    const char* name = nxtka::commandName(command);
    return std::string("answer to ") + (name ? name : "?") + " (" + std::to_string(command.code) + ")";
}

}  // namespace

int main(int argc, char** argv) {
    Config cfg;
    cfg.stream.rate = 10;
    PtyAmplifier::Options opt;
    std::string frame = "binary24";
    std::string waveform = "constant";
    bool verbose = false;
    bool stopped = false;
    unsigned level = 3, options = 0, firmware = cfg.firmware, control = cfg.control, status = 0, period = 100;
    unsigned decimalPoint = cfg.displayDecimalPoint, norm = cfg.displayNorm, equipment = 0, special = 0, mode = 0;
    std::string serial = "12345678";
    namespace cmd = nxtka::cmd;

    CLI::App app{"Simulated measuring amplifier on a pseudo-terminal"};
    app.add_option("--level", level, "protocol level (0: identification answered with ';')")->capture_default_str();
    app.add_option("--options", options, "option bits (" + answerTo(cmd::kGetOptions) + "), hex with 0x")
        ->capture_default_str();
    app.add_option("--firmware", firmware, "firmware version (" + answerTo(cmd::kGetFirmware) + ")")
        ->capture_default_str();
    app.add_option("--control", control,
                   "control word (" + answerTo(cmd::kGetControl) + "; bit 12 set: unipolar, bits 0-10: divisor)")
        ->capture_default_str();
    app.add_option("--equipment", equipment, "equipment byte (" + answerTo(cmd::kGetEquipment) + ")")
        ->capture_default_str();
    app.add_option("--mode", mode, "operating mode byte (" + answerTo(cmd::kGetMode) + ")")->capture_default_str();
    app.add_option("--serial", serial, "serial number, 8 characters (" + answerTo(cmd::kGetSerialNo) + ")")
        ->check([](const std::string& s) { return s.size() == 8 ? std::string() : std::string("8 characters"); })
        ->capture_default_str();
    app.add_option("--special-mode", special, "special-mode word (" + answerTo(cmd::kGetSpecialMode) + ")")
        ->capture_default_str();
    app.add_option("--decimal-point", decimalPoint,
                   "display decimal point (" + answerTo(cmd::kDispGetDPoint) + ")")
        ->capture_default_str();
    app.add_option("--norm", norm, "display norm, raw incl. bit 23 (" + answerTo(cmd::kDispGetNorm) + ")")
        ->capture_default_str();
    app.add_option("--frame", frame, "value frames: binary24 (','), status16 ('&'), binary16 (0xA5), text")
        ->check(CLI::IsMember({"binary24", "status16", "binary16", "text"}))
        ->capture_default_str();
    app.add_option("--status", status, "status byte of the frames")->capture_default_str();
    app.add_option("--rate", cfg.stream.rate, "values per second (0: only on request)")->capture_default_str();
    app.add_flag("--stopped", stopped, "start with transmission off (StartTransmit starts it)");
    app.add_option("--waveform", waveform, "constant, ramp, sine or noise")
        ->check(CLI::IsMember({"constant", "ramp", "sine", "noise"}))
        ->capture_default_str();
    app.add_option("--value", cfg.stream.level, "constant value / ramp start / centre (1.05 = end of scale)")
        ->capture_default_str();
    app.add_option("--amplitude", cfg.stream.amplitude, "ramp height, sine amplitude or noise half-width")
        ->capture_default_str();
    app.add_option("--period", period, "values per ramp or sine period")->capture_default_str();
    app.add_option("--seed", cfg.stream.seed, "noise seed")->capture_default_str();
    app.add_option("--baud", opt.baud, "line speed the output is paced to (0: no pacing)")->capture_default_str();
    app.add_option("--symlink", opt.symlink, "make this path a symlink to the slave device");
    Adjustment adjustment;
    std::string adjustEnd = "value";
    bool adjustNoMarker = false;
    std::string ranges, rangesFile, available;
    unsigned deviceType = cfg.deviceType, lockAnswer = cfg.lockAnswer, lastError = 0;
    double calcNorm = 1000.0;
    app.add_option("--adjust-ms", adjustment.quietMs, "quiet time of the adjustment procedures, ms")
        ->capture_default_str();
    app.add_option("--adjust-end", adjustEnd, "how a procedure ends: value (a value frame) or semicolon")
        ->check(CLI::IsMember({"value", "semicolon"}))
        ->capture_default_str();
    app.add_flag("--adjust-no-marker", adjustNoMarker, "leave the marker after a procedure unanswered");
    app.add_option("--ranges", ranges,
                   "range table instead of the default: FIRST/SECOND=WORD,... (WORD: status byte and 24-bit "
                   "value, hex with 0x; 0x80000000 ends a group); other entries answer 0xFFFFFFFF");
    app.add_option("--ranges-file", rangesFile, "range table from a file, one 'FIRST SECOND WORD' a line");
    app.add_option("--available", available,
                   "codes reported as available (" + answerTo(cmd::kIsCommandAvailable) +
                       "), comma-separated; default: every defined code");
    app.add_option("--device-type", deviceType, answerTo(cmd::kGetDeviceType))->capture_default_str();
    app.add_option("--last-error", lastError, answerTo(cmd::kGetLastError))->capture_default_str();
    app.add_option("--lock-answer", lockAnswer, answerTo(cmd::kLockInterface))->capture_default_str();
    app.add_option("--calc-norm", calcNorm, "display norm the amplifier computes on DispCalcNorm (70)")
        ->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "log every command received to stderr");
    CLI11_PARSE(app, argc, argv);

    static const std::map<std::string, FrameKind> kFrames = {{"binary24", FrameKind::Binary24},
                                                             {"status16", FrameKind::Status16},
                                                             {"binary16", FrameKind::Binary16},
                                                             {"text", FrameKind::Text}};
    static const std::map<std::string, Waveform> kWaves = {{"constant", Waveform::Constant},
                                                           {"ramp", Waveform::Ramp},
                                                           {"sine", Waveform::Sine},
                                                           {"noise", Waveform::Noise}};
    cfg.level = static_cast<int>(level);
    cfg.options = options;
    cfg.firmware = static_cast<std::uint16_t>(firmware);
    cfg.control = control;
    cfg.equipment = static_cast<std::uint8_t>(equipment);
    cfg.mode = static_cast<std::uint8_t>(mode);
    cfg.serialNumber = 0;
    for (char ch : serial) cfg.serialNumber = (cfg.serialNumber << 8) | static_cast<unsigned char>(ch);
    cfg.specialMode = static_cast<std::uint16_t>(special);
    cfg.displayDecimalPoint = static_cast<std::uint8_t>(decimalPoint);
    cfg.displayNorm = norm;
    cfg.stream.kind = kFrames.at(frame);
    cfg.stream.status = static_cast<std::uint8_t>(status);
    cfg.stream.waveform = kWaves.at(waveform);
    cfg.stream.period = period;
    cfg.stream.transmitting = !stopped;
    cfg.deviceType = static_cast<std::uint8_t>(deviceType);
    cfg.lockAnswer = static_cast<std::uint8_t>(lockAnswer);
    adjustment.end = adjustEnd == "semicolon" ? AdjustmentEnd::Semicolon : AdjustmentEnd::Value;
    adjustment.answerMarker = !adjustNoMarker;
    std::vector<std::array<unsigned long, 3>> rangeEntries;
    std::optional<std::bitset<256>> availableSet;
    try {
        if (!rangesFile.empty()) {
            std::ifstream in(rangesFile);
            if (!in) {
                std::fprintf(stderr, "nxtka-sim: cannot read %s\n", rangesFile.c_str());
                return 2;
            }
            std::string first, second, word;
            while (in >> first >> second >> word)
                rangeEntries.push_back({std::stoul(first, nullptr, 0), std::stoul(second, nullptr, 0),
                                        std::stoul(word, nullptr, 0)});
        }
        for (std::size_t at = 0; at < ranges.size();) {
            const std::size_t end = std::min(ranges.find(',', at), ranges.size());
            const std::string item = ranges.substr(at, end - at);
            const std::size_t slash = item.find('/'), equals = item.find('=');
            if (slash == std::string::npos || equals == std::string::npos || equals < slash) {
                std::fprintf(stderr, "nxtka-sim: --ranges entry '%s' is not FIRST/SECOND=WORD\n", item.c_str());
                return 2;
            }
            rangeEntries.push_back({std::stoul(item.substr(0, slash), nullptr, 0),
                                    std::stoul(item.substr(slash + 1, equals - slash - 1), nullptr, 0),
                                    std::stoul(item.substr(equals + 1), nullptr, 0)});
            at = end + 1;
        }
        for (std::size_t at = 0; at < available.size();) {
            const std::size_t end = std::min(available.find(',', at), available.size());
            if (!availableSet) availableSet.emplace();
            availableSet->set(std::stoul(available.substr(at, end - at), nullptr, 0) & 0xFF);
            at = end + 1;
        }
    } catch (const std::logic_error&) {
        std::fprintf(stderr, "nxtka-sim: --ranges, --ranges-file or --available holds something not a number\n");
        return 2;
    }

    // Signals are taken by sigwait below only; every thread inherits the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    try {
        PtyAmplifier amp(cfg, opt);
        if (verbose) amp.model().setCommandObserver(logCommand);
        AmplifierModel& model = amp.model();
        model.setAdjustment(adjustment);
        model.setCalculatedNorm(calcNorm);
        model.setReg(cmd::kGetLastError, lastError & 0xFF);
        model.setAvailableCommands(availableSet);
        if (!rangeEntries.empty()) {
            model.clearRangeTable();
            for (const auto& e : rangeEntries)
                model.setRangeEntry(static_cast<int>(e[0]), static_cast<int>(e[1]), static_cast<std::uint32_t>(e[2]));
        }
        std::printf("device: %s\n", amp.slavePath().c_str());
        if (!amp.symlinkPath().empty()) std::printf("link: %s\n", amp.symlinkPath().c_str());
        std::printf("ready\n");
        std::fflush(stdout);
        int sig = 0;
        sigwait(&sigs, &sig);
        amp.stop();
        if (verbose)
            std::fprintf(stderr, "nxtka-sim: stopped by signal %d after %zu commands (%zu undefined)\n", sig,
                         amp.model().totalCommands(), amp.model().undefinedCount());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nxtka-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
