// Two measurements over a real pseudo-terminal, each beside a plain
// system-call baseline taken in the same run:
//   stream     CPU time per 5-byte frame of the library's receive path
//              (device read, parse, ring store) against a read(fd, 4096) loop
//   roundtrip  median and 99th percentile of one command with a 3-byte
//              answer against a raw write-then-read of the same exchange
//
// Usage: nxtka_bench_pty [frames] [roundtrips]
#include "core/command_exchange.h"
#include "core/session.h"
#include "stream/receive_thread.h"
#include "support/scripted_peer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using namespace nxtka;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::uint8_t> frames(std::size_t n) {
    std::vector<std::uint8_t> s;
    s.reserve(n * 5);
    for (std::size_t i = 0; i < n; ++i) {
        s.insert(s.end(), {',', 0x01, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                           static_cast<std::uint8_t>(i)});
    }
    return s;
}

int openRawSlave(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::unique_ptr<platform::SerialDevice> openDevice(const std::string& path) {
    auto d = platform::openSystemDevice(path);
    if (!d) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    platform::LineSettings ls;
    d->getLineSettings(ls);
    ls.baudRate = 1250000;
    d->setLineSettings(ls);
    return d;
}

struct Session {
    platform::Mutex ringMutex;
    PortSession s;
    Session(std::unique_ptr<platform::SerialDevice> d, std::uint32_t capacity) {
        s.ringMutex = &ringMutex;
        s.rxBuffer.reset(new std::uint8_t[kRxBufferSize]);
        s.ring.allocate(capacity);
        s.holdValues = 0;
        s.device = std::move(d);
    }
};

void streamBench(std::size_t n) {
    const std::vector<std::uint8_t> stream = frames(n);
    test::PtyPeerEnd pty;

    // Baseline: bulk reads of up to 4096 bytes.
    double baseline = 0;
    {
        const int fd = openRawSlave(pty.slavePath());
        std::thread writer([&] { pty.write(stream); });
        std::vector<std::uint8_t> buf(4096);
        std::size_t got = 0;
        const double c0 = threadCpuSeconds();
        while (got < stream.size()) {
            const ssize_t r = read(fd, buf.data(), buf.size());
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        baseline = threadCpuSeconds() - c0;
        writer.join();
        close(fd);
    }

    // The library's receive path on the same line.
    double library = 0;
    {
        // A ring of realistic size: the count of stored frames comes from the
        // write position (one pass stores far fewer than the capacity).
        constexpr std::uint32_t kCapacity = 1 << 16;
        Session session(openDevice(pty.slavePath()), kCapacity);
        std::thread writer([&] { pty.write(stream); });
        std::size_t stored = 0;
        std::uint32_t lastHead = 0;
        const double c0 = threadCpuSeconds();
        while (stored < n) {
            receiveOnce(session.s);
            const std::uint32_t head = session.s.ring.head();
            stored += (head + kCapacity - lastHead) % kCapacity;
            lastHead = head;
        }
        library = threadCpuSeconds() - c0;
        writer.join();
    }
    const double perBase = baseline / static_cast<double>(n) * 1e9;
    const double perLib = library / static_cast<double>(n) * 1e9;
    std::printf("stream     %zu frames: bulk read %.1f ns/frame, receive path %.1f ns/frame, ratio %.2f\n", n,
                perBase, perLib, perLib / perBase);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void roundTripBench(int count) {
    test::PtyPeerEnd pty;
    test::ScriptedPeer peer(pty, [](int code, const std::vector<std::uint8_t>&) {
        return code == 1 ? test::Reply{test::answer(0x123456, 3)} : test::Reply{};
    });
    using clock = std::chrono::steady_clock;
    std::vector<double> raw, lib;
    {
        const int fd = openRawSlave(pty.slavePath());
        for (int i = 0; i < count; ++i) {
            const auto t0 = clock::now();
            const std::uint8_t c = 1;
            if (write(fd, &c, 1) != 1) break;
            std::uint8_t buf[4];
            std::size_t got = 0;
            while (got < 4) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 1000);
                const ssize_t r = read(fd, buf + got, 4 - got);
                if (r <= 0) break;
                got += static_cast<std::size_t>(r);
            }
            raw.push_back(std::chrono::duration<double, std::micro>(clock::now() - t0).count());
        }
        close(fd);
    }
    {
        Session session(openDevice(pty.slavePath()), 16);
        platform::Thread t;
        t.start(receiveThreadMain, &session.s, kReceiveThreadStack);
        for (int i = 0; i < count; ++i) {
            const auto t0 = clock::now();
            std::uint32_t v = 0;
            if (!requestValue(session.s, 1, CommandParam::none(), v)) std::fprintf(stderr, "no answer\n");
            lib.push_back(std::chrono::duration<double, std::micro>(clock::now() - t0).count());
        }
        session.s.stopThread = 1;
        while (!t.join(10)) session.s.device->purge(platform::kPurgeRxAbort);
    }
    std::printf("roundtrip  %d commands: raw median %.1f us p99 %.1f us, library median %.1f us p99 %.1f us, median ratio %.2f\n",
                count, percentile(raw, 0.5), percentile(raw, 0.99), percentile(lib, 0.5), percentile(lib, 0.99),
                percentile(lib, 0.5) / percentile(raw, 0.5));
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000000;
    const int trips = argc > 2 ? std::atoi(argv[2]) : 2000;
    streamBench(n);
    roundTripBench(trips);
    return 0;
}
