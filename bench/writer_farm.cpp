#include "bench/writer_farm.h"

#include "amplifier_model.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace nxtka::bench {
namespace {

enum Op : int { kQuit, kBurst, kPaced, kStamped };

struct Command {
    int op;
    int a;
    int b;
    int hz;
    std::uint64_t c;
};

struct Shared {
    std::atomic<std::int64_t> stamp;
};

void writeAll(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n != 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            std::perror("writer");
            _exit(2);
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

bool readAll(int fd, void* data, std::size_t n) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (n != 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

void sleepUntil(timespec& t, long stepNs) {
    t.tv_nsec += stepNs;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// The writer process: never returns.
[[noreturn]] void childMain(const std::vector<int>& masters, int in, int out, Shared* shared) {
    std::vector<std::unique_ptr<sim::AmplifierModel>> models(masters.size());
    std::vector<pollfd> fds;
    fds.push_back({in, POLLIN, 0});
    for (int m : masters) fds.push_back({m, POLLIN, 0});
    std::vector<std::uint8_t> buf(65536);
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            _exit(3);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            const ssize_t r = ::read(fds[i].fd, buf.data(), buf.size());
            if (r <= 0) continue;
            auto& model = models[i - 1];
            if (!model) {
                sim::Config config;
                config.reportUndefinedToStderr = false;
                config.stream.rate = 0;
                model = std::make_unique<sim::AmplifierModel>(config);
                const int fd = fds[i].fd;
                model->setSink([fd](const std::uint8_t* b, std::size_t n) { writeAll(fd, b, n); });
            }
            model->feed(buf.data(), static_cast<std::size_t>(r));
            model->pump();
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) continue;
        Command c{};
        if (!readAll(in, &c, sizeof c) || c.op == kQuit) _exit(0);
        std::uint64_t written = 0;
        if (c.op == kBurst) {
            const int fd = masters[static_cast<std::size_t>(c.a)];
            constexpr std::uint64_t kChunkFrames = 819;  // about 4 KiB a write
            std::vector<std::uint8_t> chunk(kChunkFrames * 5);
            while (written < c.c) {
                const std::uint64_t n = std::min(kChunkFrames, c.c - written);
                for (std::uint64_t k = 0; k < n; ++k) WriterFarm::frame(written + k, chunk.data() + k * 5);
                writeAll(fd, chunk.data(), n * 5);
                written += n;
            }
        } else if (c.op == kPaced) {
            timespec t{};
            clock_gettime(CLOCK_MONOTONIC, &t);
            const long step = 1000000000L / c.hz;
            for (std::uint64_t tick = 0; tick < c.c; ++tick) {
                std::uint8_t f[5];
                WriterFarm::frame(tick, f);
                for (int k = 0; k < c.b; ++k) writeAll(masters[static_cast<std::size_t>(c.a + k)], f, 5);
                written += static_cast<std::uint64_t>(c.b);
                sleepUntil(t, step);
            }
        } else if (c.op == kStamped) {
            // Give the reader time to be asleep in its wait.
            usleep(300);
            std::uint8_t f[5];
            WriterFarm::frame(0, f);
            shared->stamp.store(monotonicNs());
            writeAll(masters[static_cast<std::size_t>(c.a)], f, 5);
            continue;
        }
        writeAll(out, &written, sizeof written);
    }
}

}  // namespace

std::int64_t monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

std::int64_t processCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

std::int64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void WriterFarm::frame(std::uint64_t i, std::uint8_t* out) {
    out[0] = ',';
    out[1] = 0x01;
    out[2] = static_cast<std::uint8_t>(i >> 16);
    out[3] = static_cast<std::uint8_t>(i >> 8);
    out[4] = static_cast<std::uint8_t>(i);
}

WriterFarm::WriterFarm(int lines) {
    for (int i = 0; i < lines; ++i) {
        const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) throw std::runtime_error("no pseudo-terminal");
        const std::string path = ptsname(m);
        const int s = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s < 0) throw std::runtime_error("cannot open " + path);
        termios t{};
        tcgetattr(s, &t);
        cfmakeraw(&t);
        tcsetattr(s, TCSANOW, &t);
        masters_.push_back(m);
        slaves_.push_back(s);
        paths_.push_back(path);
    }
    shared_ = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared_ == MAP_FAILED) throw std::runtime_error("mmap");
    new (shared_) Shared{};
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        for (int s : slaves_) ::close(s);
        ::close(down[1]);
        ::close(up[0]);
        childMain(masters_, down[0], up[1], static_cast<Shared*>(shared_));
    }
    ::close(down[0]);
    ::close(up[1]);
    for (int m : masters_) ::close(m);
    masters_.clear();
    toChild_ = down[1];
    fromChild_ = up[0];
}

WriterFarm::~WriterFarm() {
    send(kQuit, 0, 0, 0);
    ::close(toChild_);
    ::close(fromChild_);
    waitpid(pid_, nullptr, 0);
    for (int s : slaves_) ::close(s);
    munmap(shared_, sizeof(Shared));
}

void WriterFarm::send(int op, int a, int b, std::uint64_t c) {
    const Command cmd{op, a, b, 0, c};
    writeAll(toChild_, &cmd, sizeof cmd);
}

void WriterFarm::burst(int line, std::uint64_t frames) { send(kBurst, line, 0, frames); }

void WriterFarm::paced(int first, int count, int ticks, int hz) {
    const Command cmd{kPaced, first, count, hz, static_cast<std::uint64_t>(ticks)};
    writeAll(toChild_, &cmd, sizeof cmd);
}

void WriterFarm::stampedFrame(int line) {
    lastStamp_ = static_cast<Shared*>(shared_)->stamp.load();
    send(kStamped, line, 0, 0);
}

std::uint64_t WriterFarm::written() {
    std::uint64_t n = 0;
    if (!readAll(fromChild_, &n, sizeof n)) throw std::runtime_error("writer process gone");
    return n;
}

std::int64_t WriterFarm::stamp() {
    auto* s = static_cast<Shared*>(shared_);
    std::int64_t v;
    while ((v = s->stamp.load()) == lastStamp_) {
    }
    return v;
}

}  // namespace nxtka::bench
