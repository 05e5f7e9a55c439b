// nxtka-sim: a simulated amplifier on a pseudo-terminal.
//
// Prints "device: /dev/pts/N" (and "link: PATH" when --symlink was given),
// then "ready", and serves the amplifier until SIGINT or SIGTERM. Point the
// library at it with NXsetDeviceName(port, "/dev/pts/N").
#include "amplifier_model.h"
#include "pty_amplifier.h"

#include "core/command_table.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
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
    unsigned samplingProtocol = 0;
    app.add_option("--sampling-protocol", samplingProtocol,
                   "sampling-rate protocol 0..3 (bits 22-23 of " + answerTo(cmd::kReadSamplingRate) +
                       "): 1 factor linear, 2 frequency linear")
        ->check(CLI::Range(0u, 3u))
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

    // Signals are taken by sigwait below only; every thread inherits the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    try {
        PtyAmplifier amp(cfg, opt);
        if (verbose) amp.model().setCommandObserver(logCommand);
        amp.model().setReg(cmd::kReadSamplingRate,
                           (amp.model().reg(cmd::kReadSamplingRate) & 0x3FFFFF) | (std::uint64_t{samplingProtocol} << 22));
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
