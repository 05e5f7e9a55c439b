// nxtka-sim: a simulated amplifier on a pseudo-terminal.
//
// Prints "device: /dev/pts/N" (and "link: PATH" when --symlink was given),
// then "ready", and serves the amplifier until SIGINT or SIGTERM. Point the
// library at it with NXsetDeviceName(port, "/dev/pts/N"). Every option may
// also come from a device file (--config, INI or TOML, keys named as the long
// options); --save-config writes the state at exit in that form. Exit status
// 2 for bad arguments, 1 when the simulator cannot start. --hang-up-after
// ends it: it says so and exits with status 0, taking its link along.
#include "amplifier_model.h"
#include "command_listing.h"
#include "csv_replay.h"
#include "device_file_check.h"
#include "pty_amplifier.h"
#include "sim_spec.h"
#include "symlink_claim.h"

#include "core/command_table.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>
#include <map>
#include <pthread.h>
#include <string>

namespace {

using namespace nxtka::sim;

void logCommand(const ReceivedCommand& c) {
    static const Clock::time_point start = Clock::now();
    const double t = std::chrono::duration<double>(c.at - start).count();
    const char* name = nxtka::commandName(c.code);
    std::fprintf(stderr, "%10.4f > %02X", t, static_cast<unsigned>(c.code));
    for (std::uint8_t b : c.params) std::fprintf(stderr, " %02X", static_cast<unsigned>(b));
    std::fprintf(stderr, "  %s\n", name ? name : "(undefined)");
}

std::string versionText() {
    return "nxtka-sim " + std::to_string(NXTKA_VERSION_MAJOR) + "." + std::to_string(NXTKA_VERSION_MINOR) + "." +
           std::to_string(NXTKA_VERSION_PATCH);
}

// What the device file and the fault options add to the configuration.
struct Extras {
    std::vector<std::string> registers, memory, ranges;
    std::vector<std::string> silent, late, pauses;
    std::vector<std::size_t> flipWritten;
    std::uint32_t garbageEvery = 0;
    bool splitAnswers = false;
    std::uint32_t splitGapMs = 2;
    double hangUpAfter = 0;
    std::string replay, saveConfig;
};

struct Timed {
    double hangUpAfter = 0;
    std::vector<std::pair<double, double>> pauses;
};

// Applies the device file's state and the faults to the model; throws
// std::invalid_argument or std::runtime_error for a bad entry.
Timed applyExtras(const Extras& x, AmplifierModel& model) {
    for (const std::string& r : x.registers) {
        const auto [code, value] = parseCodeValue(r);
        // The sampling-rate protocol is the amplifier's own (--sampling-protocol):
        // a register value sets the frequency and factor fields only.
        const bool samplingWord = (code & 0xFF) == (static_cast<int>(nxtka::cmd::kReadSamplingRate) & 0xFF);
        model.setReg(code, samplingWord ? (model.reg(code) & kSamplingProtocolBits) | (value & kSamplingFields) : value);
    }
    for (const std::string& m : x.memory) {
        const auto [address, bytes] = parseMemory(m);
        if (address + bytes.size() > AmplifierModel::kMemorySize)
            throw std::invalid_argument("memory beyond " + std::to_string(AmplifierModel::kMemorySize) + " bytes: " + m);
        for (std::size_t i = 0; i < bytes.size(); ++i) model.setMemory(address + i, bytes[i]);
    }
    for (const std::string& r : x.ranges) {
        const auto [selector, entry] = parseCodeValue(r);
        if (entry > 0xFFFFFFFFu) throw std::invalid_argument("range entry above 32 bits: " + r);
        model.setRangeEntry(selector, static_cast<std::uint32_t>(entry));
    }
    Faults f = model.faults();
    for (const std::string& c : x.silent) f.silence(parseCode(c));
    for (const std::string& l : x.late) {
        const auto [code, ms] = parseCodeMs(l);
        f.delay(code, ms);
    }
    for (const std::size_t a : x.flipWritten) {
        if (a >= AmplifierModel::kMemorySize) throw std::invalid_argument("--flip-written beyond the memory: " + std::to_string(a));
        f.flipWrittenBit.set(a);
    }
    f.garbageEveryFrames = x.garbageEvery;
    f.splitAnswers = x.splitAnswers;
    f.splitGapMs = x.splitGapMs;
    model.setFaults(f);
    Timed t;
    if (!(x.hangUpAfter >= 0)) throw std::invalid_argument("--hang-up-after must be 0 or more seconds");
    t.hangUpAfter = x.hangUpAfter;
    for (const std::string& p : x.pauses) t.pauses.push_back(parseSpan(p));
    if (!x.replay.empty()) {
        StreamSettings st = model.stream();
        st.replay = readReplayValues(x.replay);
        model.setStream(st);
    }
    return t;
}

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

std::string list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + inQuotes(items[i]);
    return out + "]";
}

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

// The model's state as a device file: what a fresh model would differ in.
std::string deviceFile(AmplifierModel& m, const CLI::App& app, const Extras& x) {
    namespace cmd = nxtka::cmd;
    const AmplifierModel fresh;
    std::string serial;
    const std::uint64_t sn = m.reg(cmd::kGetSerialNo);
    for (int i = 7; i >= 0; --i) serial += static_cast<char>((sn >> (8 * i)) & 0xFF);
    std::string out = "# nxtka-sim device file (" + versionText() + ")\n";
    out += "level = " + std::to_string(m.level()) + "\n";
    out += "options = " + std::to_string(m.reg(cmd::kGetOptions)) + "\n";
    out += "firmware = " + std::to_string(m.reg(cmd::kGetFirmware)) + "\n";
    out += "control = " + std::to_string(m.reg(cmd::kGetControl)) + "\n";
    out += "equipment = " + std::to_string(m.reg(cmd::kGetEquipment)) + "\n";
    out += "mode = " + std::to_string(m.reg(cmd::kGetMode)) + "\n";
    out += "special-mode = " + std::to_string(m.reg(cmd::kGetSpecialMode)) + "\n";
    out += "decimal-point = " + std::to_string(m.reg(cmd::kDispGetDPoint)) + "\n";
    out += "norm = " + std::to_string(m.reg(cmd::kDispGetNorm)) + "\n";
    out += "serial = " + inQuotes(serial) + "\n";
    // The frame kind and the rate as the host's settings left them.
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.10g", m.stream().rate);
    out += std::string("frame = ") + inQuotes(frameKindName(m.stream().kind)) + "\n";
    out += std::string("rate = ") + rate + "\n";
    for (const char* key : {"status", "waveform", "value", "amplitude", "period", "seed", "baud", "sampling-protocol"}) {
        const CLI::Option* o = app.get_option(std::string("--") + key);
        const std::string v = o->count() > 0 ? o->as<std::string>() : o->get_default_str();
        out += std::string(key) + " = " + (key == std::string("waveform") ? inQuotes(v) : v) + "\n";
    }
    out += std::string("stopped = ") + (m.transmitting() ? "false" : "true") + "\n";
    std::vector<std::string> regs;
    for (const std::string& r : x.registers) {
        const int code = parseCodeValue(r).first;
        regs.push_back(codeText(code) + "=" + hex(m.reg(code)));
    }
    if (!regs.empty()) out += "register = " + list(regs) + "\n";
    const std::vector<std::uint8_t> mem = m.memory(), base = fresh.memory();
    std::vector<std::string> runs;
    for (std::size_t i = 0; i < mem.size();) {
        if (mem[i] == base[i]) { ++i; continue; }
        std::size_t j = i;
        while (j < mem.size() && mem[j] != base[j]) ++j;
        runs.push_back(std::to_string(i) + ":" + hexBytes(mem.data() + i, j - i));
        i = j;
    }
    if (!runs.empty()) out += "memory = " + list(runs) + "\n";
    std::vector<std::string> ranges;
    for (int s = 0; s < 256; ++s)
        if (m.rangeEntry(s) != fresh.rangeEntry(s)) ranges.push_back(std::to_string(s) + "=" + hex(m.rangeEntry(s)));
    if (!ranges.empty()) out += "range = " + list(ranges) + "\n";
    if (!x.silent.empty()) out += "silent = " + list(x.silent) + "\n";
    if (!x.late.empty()) out += "late = " + list(x.late) + "\n";
    if (x.garbageEvery != 0) out += "garbage-every = " + std::to_string(x.garbageEvery) + "\n";
    if (!x.flipWritten.empty()) {
        std::string addresses;
        for (const std::size_t a : x.flipWritten) addresses += (addresses.empty() ? "" : ", ") + std::to_string(a);
        out += "flip-written = [" + addresses + "]\n";
    }
    if (x.splitAnswers) out += "split-answers = true\nsplit-gap = " + std::to_string(x.splitGapMs) + "\n";
    if (x.hangUpAfter > 0) out += "hang-up-after = " + std::to_string(x.hangUpAfter) + "\n";
    if (!x.pauses.empty()) out += "pause-values = " + list(x.pauses) + "\n";
    if (!x.replay.empty()) out += "replay = " + inQuotes(x.replay) + "\n";
    return out;
}

// "answer to GetOptions (54)"
std::string answerTo(nxtka::Command command) {
    const char* name = nxtka::commandName(command);
    return std::string("answer to ") + (name ? name : "?") + " (" + std::to_string(command.code) + ")";
}

// Waits for SIGINT or SIGTERM while the timed faults fall due; returns the
// signal, or 0 once the line was hung up as asked.
int serveUntilSignal(AmplifierModel& model, const Timed& t, const sigset_t& sigs) {
    const Clock::time_point start = Clock::now();
    std::vector<int> pauseState(t.pauses.size(), 0);  // 0 before, 1 during, 2 after
    for (;;) {
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        if (t.hangUpAfter > 0 && now >= t.hangUpAfter) {
            model.hangUp();
            return 0;
        }
        for (std::size_t i = 0; i < t.pauses.size(); ++i) {
            const auto [from, length] = t.pauses[i];
            if (pauseState[i] == 0 && now >= from) {
                model.setTransmitting(false);
                pauseState[i] = 1;
            }
            if (pauseState[i] == 1 && now >= from + length) {
                model.setTransmitting(true);
                pauseState[i] = 2;
            }
        }
        const timespec tick{0, 20 * 1000 * 1000};
        const int sig = sigtimedwait(&sigs, nullptr, &tick);
        if (sig > 0) return sig;
    }
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
    unsigned level = 3, options = cfg.options, firmware = cfg.firmware, control = cfg.control, status = 0, period = 100;
    unsigned decimalPoint = cfg.displayDecimalPoint, norm = cfg.displayNorm, equipment = 0, special = 0, mode = 0;
    std::string serial = "12345678";
    namespace cmd = nxtka::cmd;

    CLI::App app{"Simulated measuring amplifier on a pseudo-terminal"};
    app.add_option("--level", level, "protocol level (0: identification answered with ';')")->capture_default_str();
    app.add_option("--options", options,
                   "option bits (" + answerTo(cmd::kGetOptions) +
                       "), hex with 0x; the default offers the optional commands: linearization (0x80) and "
                       "command test (0x400)")
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
    unsigned samplingProtocol = cfg.samplingProtocol;
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
    app.add_option("--frame", frame,
                   "value frames at start: binary24 (','), status16 ('&'), binary16 (0xA5), text; later the mode's "
                   "text flag and the transmission mode choose them (transmit5 or none: binary24, transmit4: "
                   "status16, repeat3: binary16)")
        ->check(CLI::IsMember({"binary24", "status16", "binary16", "text"}))
        ->capture_default_str();
    app.add_option("--status", status, "status byte of the frames")->capture_default_str();
    app.add_option("--rate", cfg.stream.rate,
                   "values per second at start (0: only on request); the sampling-rate word says it where its "
                   "protocol can, and a written sampling rate sets it")
        ->capture_default_str();
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
    app.add_flag("--follow-baud", cfg.followBaudChange, "switch the pacing to the speed the host sets with SetBaud (130)");
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
    app.add_flag("-v,--verbose", verbose, "log every command received to stderr, in hex with its name");
    bool listCommands = false;
    app.add_flag("--list-commands", listCommands,
                 "list the command codes with their names and byte counts (names and codes are what --silent, "
                 "--late and --register take), and exit")
        ->configurable(false);

    Extras x;
    CLI::Option* configFile =
        app.set_config("--config", "", "device file (INI or TOML) whose keys are the long options without '--'");
    app.allow_config_extras(false);  // a mistyped key is an error, not silently ignored
    app.add_option("--save-config", x.saveConfig, "write the device file of the state at exit to this path")
        ->configurable(false);
    app.set_version_flag("--version", versionText());
    app.add_option("--register", x.registers, "register by its get code: CODE=VALUE (e.g. GetMode=3), repeatable");
    app.add_option("--memory", x.memory, "device memory from an address: ADDR:HEXBYTES (e.g. 16:0A0B), repeatable");
    app.add_option("--range", x.ranges, "range table entry: SELECTOR=VALUE, repeatable");
    app.add_option("--silent", x.silent, "fault: this code gets no answer (name or number), repeatable");
    app.add_option("--late", x.late, "fault: answer this code late, CODE:MS (e.g. GetMode:1500), repeatable");
    app.add_option("--flip-written", x.flipWritten,
                   "fault: the data byte written to this memory address arrives with bit 0 flipped, repeatable");
    app.add_option("--garbage-every", x.garbageEvery, "fault: garbage bytes after every N value frames (0: never)");
    app.add_flag("--split-answers", x.splitAnswers, "fault: every answer byte written on its own");
    app.add_option("--split-gap", x.splitGapMs, "milliseconds between the bytes of a split answer")
        ->capture_default_str();
    app.add_option("--hang-up-after", x.hangUpAfter, "fault: hang up this many seconds after the start (0: never)");
    app.add_option("--pause-values", x.pauses, "fault: no value frames from START for SECONDS: START:SECONDS, repeatable");
    app.add_option("--replay", x.replay,
                   "play the value column of this CSV file (the tool's --csv output) in a loop instead of the waveform");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ConfigError& e) {
        const std::string where = configFile->count() > 0 ? configFile->as<std::string>() : std::string();
        const std::string problem = where.empty() ? std::string() : deviceFileProblem(where, [&app](const std::string& key) {
            const CLI::Option* o = app.get_option_no_throw("--" + key);
            return o != nullptr && o->get_configurable();
        });
        std::fprintf(stderr, "nxtka-sim: %s\n", problem.empty() ? (where + ": " + e.what()).c_str() : problem.c_str());
        return 2;
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    if (listCommands) {
        printCommandList(stdout);
        return 0;
    }

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
    cfg.samplingProtocol = static_cast<std::uint8_t>(samplingProtocol);
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

    // Bad entries of the options or the device file are argument errors.
    Timed timed;
    {
        AmplifierModel check(cfg);
        try {
            timed = applyExtras(x, check);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "nxtka-sim: %s\n", e.what());
            return 2;
        }
    }

    try {
        std::unique_ptr<SymlinkClaim> claim;
        if (!opt.symlink.empty()) claim = std::make_unique<SymlinkClaim>(opt.symlink);
        PtyAmplifier amp(cfg, opt);
        applyExtras(x, amp.model());
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
        const int sig = serveUntilSignal(amp.model(), timed, sigs);
        amp.stop();
        if (sig == 0)
            std::fprintf(stderr, "nxtka-sim: hung up %g s after the start as asked (--hang-up-after); exiting\n",
                         timed.hangUpAfter);
        if (verbose && sig != 0)
            std::fprintf(stderr, "nxtka-sim: stopped by signal %d after %zu commands (%zu undefined)\n", sig,
                         amp.model().totalCommands(), amp.model().undefinedCount());
        if (!x.saveConfig.empty()) {
            std::ofstream out(x.saveConfig);
            out << deviceFile(amp.model(), app, x);
            if (!out.flush()) throw std::runtime_error("cannot write " + x.saveConfig);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nxtka-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
