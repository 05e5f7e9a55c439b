// A noisy line between the library and nxtka-sim: the simulator serves a
// pseudo-terminal, this program opens it and offers a pseudo-terminal of its
// own to the library, and copies the bytes across. Bytes from the amplifier
// get random bits flipped at the given bit error rate; bytes to it pass
// unchanged. Meanwhile the library streams 100 values/s and asks one of five
// settings with known answers every 100 ms, for the given time.
//
// Counted: answers reported as success that differ from the simulator's
// setting (wrong answers; split into those one flipped bit away from the
// right answer, which no check of the protocol can catch, and the others,
// which are bytes of another frame), failed queries, gaps of more than 1 s between
// value deliveries (stalls), and values outside the band the simulator's
// noise stays in (the bit flips in value frames make some of those anyway;
// values converted with the wrong polarity fall far outside it). The noise
// makes every byte value occur in the value frames, line feeds included, as
// on a real line.
//
// Usage: nxtka_noisy_relay [--rate 1e-4] [--seconds 60] [--seed 1] [--sim PATH] [--port 5]
#include "nxtka.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double bitErrorRate = 1e-4;
    double seconds = 60;
    std::uint64_t seed = 1;
    std::string sim = NXTKA_SIM_PATH;
    unsigned port = 5;
};

// The simulated amplifier's settings; each query's right answer is one of them.
constexpr int kMode = 65;
constexpr int kEquipment = 21;
constexpr int kFirmware = 0x0C10;
constexpr int kControl = 0x28;  // bipolar, divisor 40
constexpr int kScale = 0x654321;
constexpr double kLevel = 0.525;  // bipolar 0xC00000; unipolar the same code reads 0.7875
constexpr double kNoise = 0.01;   // half-width of the simulator's noise around kLevel

struct Query {
    const char* name;
    std::int32_t (*call)(uint32_t);
    std::int32_t expected;
};
const Query kQueries[] = {
    {"TKAgetMode", [](uint32_t p) { return TKAgetMode(p); }, kMode},
    {"TKAgetEquipment", [](uint32_t p) { return TKAgetEquipment(p); }, kEquipment},
    {"TKAfirmwareVersion", [](uint32_t p) { return TKAfirmwareVersion(p); }, kFirmware},
    {"TKAgetControl", [](uint32_t p) { return TKAgetControl(p); }, kControl},
    {"TKAgetScale", [](uint32_t p) { return TKAgetScale(p); }, kScale},
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "noisy_relay: %s\n", what.c_str());
    std::exit(1);
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) fail("tcgetattr: " + std::string(std::strerror(errno)));
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

// nxtka-sim as a child process; its pseudo-terminal's path is read from its
// first lines of output.
struct Simulator {
    pid_t pid = -1;
    std::string device;

    explicit Simulator(const std::string& path) {
        int out[2];
        if (pipe(out) != 0) fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::vector<std::string> args = {path,
                                               "--rate", "100",
                                               "--value", std::to_string(kLevel),
                                               "--waveform", "noise",
                                               "--amplitude", std::to_string(kNoise),
                                               "--mode", std::to_string(kMode),
                                               "--equipment", std::to_string(kEquipment),
                                               "--firmware", std::to_string(kFirmware),
                                               "--control", std::to_string(kControl),
                                               "--register", "GetScale=" + std::to_string(kScale)};
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) fail("cannot start " + path);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string text;
        char buf[256];
        while (text.find("ready") == std::string::npos) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) fail("the simulator ended before it was ready");
            text.append(buf, static_cast<std::size_t>(n));
        }
        close(out[0]);
        const std::size_t at = text.find("device: ");
        if (at == std::string::npos) fail("the simulator named no device");
        device = text.substr(at + 8, text.find('\n', at) - at - 8);
    }
    ~Simulator() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

// Copies bytes both ways until stopped, flipping bits of the amplifier's.
class Relay {
public:
    Relay(const std::string& amplifierPath, double bitErrorRate, std::uint64_t seed)
        : flips_(bitErrorRate > 0 ? bitErrorRate : 0.5), rng_(seed) {
        amplifier_ = open(amplifierPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (amplifier_ < 0) fail("cannot open " + amplifierPath);
        makeRaw(amplifier_);
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) fail("no pseudo-terminal");
        libraryPath_ = ptsname(master_);
        // Held open so that the master never sees the line hang up between
        // the library's opens, and raw so that nothing is echoed before.
        keepSlave_ = open(libraryPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        makeRaw(keepSlave_);
        untilFlip_ = bitErrorRate > 0 ? flips_(rng_) : UINT64_MAX;
        thread_ = std::thread([this, bitErrorRate] { run(bitErrorRate > 0); });
    }
    ~Relay() {
        stop_ = true;
        thread_.join();
        close(keepSlave_);
        close(master_);
        close(amplifier_);
    }

    const std::string& libraryPath() const { return libraryPath_; }
    std::uint64_t bytesFromAmplifier() const { return fromAmplifier_; }
    std::uint64_t flippedBits() const { return flipped_; }

private:
    void run(bool noisy) {
        std::uint8_t buf[4096];
        while (!stop_) {
            pollfd p[2] = {{amplifier_, POLLIN, 0}, {master_, POLLIN, 0}};
            if (poll(p, 2, 50) <= 0) continue;
            if (p[0].revents & POLLIN) {
                const ssize_t n = read(amplifier_, buf, sizeof buf);
                if (n > 0) {
                    if (noisy) flip(buf, static_cast<std::size_t>(n));
                    fromAmplifier_ += static_cast<std::uint64_t>(n);
                    writeAll(master_, buf, static_cast<std::size_t>(n));
                }
            }
            if (p[1].revents & POLLIN) {
                const ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0) writeAll(amplifier_, buf, static_cast<std::size_t>(n));
            }
        }
    }
    // Bit errors are independent: the gap to the next one is geometric.
    void flip(std::uint8_t* bytes, std::size_t count) {
        std::uint64_t bits = count * 8;
        std::uint64_t at = 0;
        while (untilFlip_ < bits - at) {
            at += untilFlip_;
            bytes[at / 8] ^= static_cast<std::uint8_t>(1u << (at % 8));
            ++flipped_;
            ++at;
            untilFlip_ = flips_(rng_);
        }
        untilFlip_ -= bits - at;
    }
    static void writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
        while (count > 0) {
            const ssize_t n = write(fd, bytes, count);
            if (n <= 0) return;
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
    }

    std::geometric_distribution<std::uint64_t> flips_;
    std::mt19937_64 rng_;
    std::uint64_t untilFlip_ = 0;
    int amplifier_ = -1;
    int master_ = -1;
    int keepSlave_ = -1;
    std::string libraryPath_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> fromAmplifier_{0};
    std::atomic<std::uint64_t> flipped_{0};
    std::thread thread_;
};

// Reads values as they arrive and measures the gaps between deliveries.
class ValueReader {
public:
    explicit ValueReader(unsigned port) : port_(port), thread_([this] { run(); }) {}
    ~ValueReader() {
        stop_ = true;
        thread_.join();
    }
    std::uint64_t values() const { return values_; }
    std::uint64_t off() const { return off_; }
    int stalls() const { return stalls_; }
    double longestGap() const { return longestGap_; }

private:
    void run() {
        const NXTKA_EVENT event = NXrequestEvent(port_);
        std::vector<double> v(4096);
        Clock::time_point last = Clock::now();
        while (!stop_) {
            pollfd p{event, POLLIN, 0};
            poll(&p, 1, 100);
            std::int32_t got = 0;
            while (TKAreadMultiple(port_, v.data(), static_cast<std::int32_t>(v.size()), &got) == 1) {
                values_ += static_cast<std::uint64_t>(got);
                for (std::int32_t i = 0; i < got; ++i) {
                    off_ += std::fabs(v[static_cast<std::size_t>(i)] - kLevel) > kNoise * 1.001 ? 1 : 0;
                }
                last = noteDelivery(last);
            }
            noteGap(last);
        }
    }
    Clock::time_point noteDelivery(Clock::time_point last) {
        noteGap(last);
        inGap_ = false;
        return Clock::now();
    }
    void noteGap(Clock::time_point last) {
        const double gap = std::chrono::duration<double>(Clock::now() - last).count();
        if (gap > 1.0 && !inGap_) {
            inGap_ = true;
            ++stalls_;
        }
        longestGap_ = std::max(longestGap_.load(), gap);
    }

    unsigned port_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> values_{0};
    std::atomic<std::uint64_t> off_{0};
    std::atomic<int> stalls_{0};
    std::atomic<double> longestGap_{0};
    bool inGap_ = false;
    std::thread thread_;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--rate") {
            o.bitErrorRate = std::atof(value);
        } else if (key == "--seconds") {
            o.seconds = std::atof(value);
        } else if (key == "--seed") {
            o.seed = std::strtoull(value, nullptr, 10);
        } else if (key == "--sim") {
            o.sim = value;
        } else if (key == "--port") {
            o.port = static_cast<unsigned>(std::atoi(value));
        } else {
            fail("unknown option " + key);
        }
    }
    if (argc % 2 == 0) fail("every option takes a value");
    if (!(o.bitErrorRate >= 0 && o.bitErrorRate < 1)) fail("--rate must lie in 0..1");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    Simulator sim(o.sim);
    Relay relay(sim.device, o.bitErrorRate, o.seed);
    NXsetDeviceName(o.port, relay.libraryPath().c_str());
    int attempts = 0;
    while (TKAactivate(o.port, 100000) != 0) {
        if (++attempts == 5) fail("activation failed five times");
    }

    int right = 0, wrong = 0, oneBitOff = 0, failed = 0;
    double longestQuery = 0;
    {
        ValueReader reader(o.port);
        const Clock::time_point start = Clock::now();
        const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
        Clock::time_point next = start;
        for (std::size_t i = 0; Clock::now() < end; ++i) {
            std::this_thread::sleep_until(next);
            const Query& q = kQueries[i % std::size(kQueries)];
            const Clock::time_point t0 = Clock::now();
            const std::int32_t answer = q.call(o.port);
            longestQuery = std::max(longestQuery, std::chrono::duration<double>(Clock::now() - t0).count());
            if (answer == -1) {
                ++failed;
            } else if (answer == q.expected) {
                ++right;
            } else {
                ++wrong;
                if (std::popcount(static_cast<std::uint32_t>(answer ^ q.expected)) == 1) ++oneBitOff;
                std::fprintf(stderr, "%7.2f s  %s answered %d (0x%X) instead of %d\n",
                             std::chrono::duration<double>(t0 - start).count(), q.name, answer,
                             static_cast<unsigned>(answer), q.expected);
            }
            next = std::max(next + std::chrono::milliseconds(100), Clock::now());
        }
        std::printf("bit error rate %g, %g s: %llu bytes from the amplifier, %llu bits flipped\n", o.bitErrorRate,
                    o.seconds, static_cast<unsigned long long>(relay.bytesFromAmplifier()),
                    static_cast<unsigned long long>(relay.flippedBits()));
        std::printf("queries: %d right, %d wrong but reported as success (%d of them one bit off), %d failed; "
                    "longest %.2f s\n",
                    right, wrong, oneBitOff, failed, longestQuery);
        std::printf("values: %llu read, %llu outside %g +- %g; stalls over 1 s: %d, longest gap %.2f s\n",
                    static_cast<unsigned long long>(reader.values()), static_cast<unsigned long long>(reader.off()),
                    kLevel, kNoise, reader.stalls(), reader.longestGap());
    }
    TKArelease(o.port);
    NXsetDeviceName(o.port, nullptr);
    return 0;
}
