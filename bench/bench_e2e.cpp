// End-to-end measurements: a writer process on pseudo-terminals, the library's
// receive threads, and an application thread that waits on the data event and
// reads with TKAreadMultiple, each against bare loops measured in the same
// round. Every streaming measurement checks that the values read equal the
// frames the writer wrote. Prints markdown tables (medians over the rounds,
// with the spread of the per-round ratio).
//
// Environment (defaults in brackets): ROUNDS [5], FRAMES one-port burst
// [1000000], PORTS many-port counts [64,256,1024], TICKS frames per port at
// 100/s [200], WAKES [500], TRIPS [1000], PARSE_FRAMES [2000000]. A count of
// 0 leaves its measurement out.
#include "bench/memory_device.h"
#include "bench/writer_farm.h"
#include "core/session.h"
#include "core/tuning.h"
#include "nxtka.h"
#include "stream/receive_thread.h"

#include <libserialport.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" thread_local int nxtka_bench_opening;  // serialport_on_pty.c

namespace {

using namespace nxtka;
using bench::WriterFarm;

long envNum(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

std::vector<int> envList(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    std::string s = v != nullptr && *v != '\0' ? v : fallback;
    std::vector<int> out;
    for (char* p = s.data(); *p != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p) break;
        out.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
    }
    return out;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One column of a row: its figure per round.
struct Series {
    std::vector<double> rounds;
    double med() const { return median(rounds); }
};

// The library's figure over a baseline's, per round: median and range.
std::string ratioText(const Series& lib, const Series& base) {
    std::vector<double> r;
    for (std::size_t i = 0; i < lib.rounds.size() && i < base.rounds.size(); ++i) {
        if (base.rounds[i] > 0) r.push_back(lib.rounds[i] / base.rounds[i]);
    }
    if (r.empty()) return "n/a";
    const auto [lo, hi] = std::minmax_element(r.begin(), r.end());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2fx (%.2f-%.2f)", median(r), *lo, *hi);
    return buf;
}

bool lost = false;

void checkCount(const char* what, std::uint64_t written, std::uint64_t read) {
    if (written == read) return;
    lost = true;
    std::fprintf(stderr, "%s: writer wrote %llu frames, reader got %llu\n", what,
                 static_cast<unsigned long long>(written), static_cast<unsigned long long>(read));
}

// ---------------------------------------------------------------- library side

// Activates `port` on `path` and returns its data event's descriptor.
int activate(unsigned port, const std::string& path, std::int32_t capacity) {
    NXsetDeviceName(port, path.c_str());
    if (TKAactivate(port, capacity) != 0) {
        std::fprintf(stderr, "activation of port %u on %s failed\n", port, path.c_str());
        std::exit(1);
    }
    return static_cast<int>(NXrequestEvent(port));
}

void release(unsigned port) {
    TKArelease(port);
    NXsetDeviceName(port, nullptr);
}

// Releases ports 0..n-1, a few at a time (each release waits for its thread).
void releaseAll(int n) {
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&] {
            for (int i = next.fetch_add(1); i < n; i = next.fetch_add(1)) release(static_cast<unsigned>(i));
        });
    }
    for (auto& t : workers) t.join();
}

// Reads everything waiting on `port`; the number of values. A read that
// delivers less than asked for has emptied the ring.
std::uint64_t drainPort(unsigned port, std::vector<double>& buf) {
    const auto max = static_cast<std::int32_t>(buf.size());
    std::uint64_t total = 0;
    for (;;) {
        std::int32_t n = 0;
        if (TKAreadMultiple(port, buf.data(), max, &n) != 1) return total;
        total += static_cast<std::uint64_t>(n);
        if (n < max) return total;
    }
}

// ---------------------------------------------------------------- one port at full speed

struct FullSpeed {
    Series bare, serialport, library;  // process CPU ns per frame
};

std::uint64_t bareBulkRead(int fd, std::uint64_t bytes) {
    std::vector<std::uint8_t> buf(4096);
    std::uint64_t got = 0;
    while (got < bytes) {
        const ssize_t r = read(fd, buf.data(), buf.size());
        if (r <= 0) break;
        got += static_cast<std::uint64_t>(r);
    }
    return got;
}

double perFrame(std::int64_t ns, std::uint64_t frames) { return static_cast<double>(ns) / static_cast<double>(frames); }

void fullSpeedRound(WriterFarm& farm, int eventFd, std::uint64_t frames, FullSpeed& out) {
    // Line 1: the baselines; line 0: the library (port 0).
    {
        const std::int64_t c0 = bench::processCpuNs();
        farm.burst(1, frames);
        const std::uint64_t got = bareBulkRead(farm.slave(1), frames * 5);
        out.bare.rounds.push_back(perFrame(bench::processCpuNs() - c0, frames));
        checkCount("bulk read", farm.written(), got / 5);
    }
    {
        // It leaves the line with VMIN 0 (a blocking read then returns 0 at
        // once); the settings go back afterwards.
        termios saved{};
        tcgetattr(farm.slave(1), &saved);
        sp_port* port = nullptr;
        nxtka_bench_opening = 1;
        const bool opened =
            sp_get_port_by_name(farm.path(1).c_str(), &port) == SP_OK && sp_open(port, SP_MODE_READ) == SP_OK;
        nxtka_bench_opening = 0;
        if (opened) {
            std::vector<std::uint8_t> buf(4096);
            std::uint64_t got = 0;
            const std::int64_t c0 = bench::processCpuNs();
            farm.burst(1, frames);
            while (got < frames * 5) {
                const int r = sp_blocking_read_next(port, buf.data(), buf.size(), 0);
                if (r <= 0) break;
                got += static_cast<std::uint64_t>(r);
            }
            out.serialport.rounds.push_back(perFrame(bench::processCpuNs() - c0, frames));
            checkCount("serial port library", farm.written(), got / 5);
            sp_close(port);
        } else {
            std::fprintf(stderr, "serial port library cannot open %s: %s\n", farm.path(1).c_str(), sp_last_error_message());
        }
        if (port != nullptr) sp_free_port(port);
        tcsetattr(farm.slave(1), TCSANOW, &saved);
    }
    {
        std::vector<double> buf(4096);
        std::uint64_t got = 0;
        const std::int64_t c0 = bench::processCpuNs();
        farm.burst(0, frames);
        while (got < frames) {
            pollfd p{eventFd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            got += drainPort(0, buf);
        }
        out.library.rounds.push_back(perFrame(bench::processCpuNs() - c0, frames));
        checkCount("library, one port", farm.written(), got);
    }
}

// ---------------------------------------------------------------- wake-up

struct WakeUp {
    Series bare, relay, library;  // median microseconds from write to wake-up
};

// The floor of any design with a reading thread between the line and the
// application: a thread that waits on the line, reads what is there and adds
// the bytes it read to an eventfd, which the application waits on.
class Relay {
public:
    static constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};

    // Relays until `limit` bytes have been read, or until destroyed.
    explicit Relay(int line, std::uint64_t limit = kUnlimited)
        : line_(line), limit_(limit), event_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), thread_([this] { run(); }) {}
    ~Relay() {
        stop_ = true;
        thread_.join();
        close(event_);
    }
    int event() const { return event_; }
    bool started() const { return started_.load(); }
    // Resets the eventfd; the bytes relayed since the last call.
    std::uint64_t consume() {
        std::uint64_t n = 0;
        return read(event_, &n, sizeof n) == sizeof n ? n : 0;
    }

private:
    void run() {
        started_ = true;
        std::uint8_t buf[4096];
        for (std::uint64_t relayed = 0; relayed < limit_ && !stop_;) {
            pollfd p{line_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t r = read(line_, buf, sizeof buf);
            if (r <= 0) continue;
            relayed += static_cast<std::uint64_t>(r);
            const auto bytes = static_cast<std::uint64_t>(r);
            if (write(event_, &bytes, sizeof bytes) < 0) break;
        }
    }
    int line_;
    std::uint64_t limit_;
    int event_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::thread thread_;
};

void wakeRound(WriterFarm& farm, int eventFd, int wakes, WakeUp& out) {
    // Alternating, so both waiters see the same load.
    std::vector<double> bare, relayed, lib;
    std::vector<double> buf(16);
    Relay relay(farm.slave(2));
    for (int i = 0; i < wakes; ++i) {
        farm.stampedFrame(1);
        pollfd p{farm.slave(1), POLLIN, 0};
        poll(&p, 1, 2000);
        std::int64_t woke = bench::monotonicNs();
        bare.push_back(static_cast<double>(woke - farm.stamp()) / 1000.0);
        std::uint8_t f[5];
        std::size_t got = 0;
        while (got < 5) got += static_cast<std::size_t>(std::max<ssize_t>(0, read(farm.slave(1), f, 5 - got)));

        {
            farm.stampedFrame(2);
            pollfd r{relay.event(), POLLIN, 0};
            poll(&r, 1, 2000);
            woke = bench::monotonicNs();
            relayed.push_back(static_cast<double>(woke - farm.stamp()) / 1000.0);
            relay.consume();
        }

        farm.stampedFrame(0);
        p = pollfd{eventFd, POLLIN, 0};
        poll(&p, 1, 2000);
        woke = bench::monotonicNs();
        lib.push_back(static_cast<double>(woke - farm.stamp()) / 1000.0);
        std::uint64_t values = drainPort(0, buf);
        while (values < 1 && poll(&p, 1, 2000) > 0) values += drainPort(0, buf);
        checkCount("library, wake-up", 1, values);
    }
    out.bare.rounds.push_back(median(bare));
    out.relay.rounds.push_back(median(relayed));
    out.library.rounds.push_back(median(lib));
}

// ---------------------------------------------------------------- command round trip

struct RoundTrip {
    Series raw, library;  // median microseconds
};

void roundTripRound(WriterFarm& farm, int trips, RoundTrip& out) {
    // Alternating, so both paths see the same load.
    std::vector<double> raw, lib;
    const int fd = farm.slave(1);
    for (int i = 0; i < trips; ++i) {
        std::int64_t t0 = bench::monotonicNs();
        const std::uint8_t code = 3;  // the control word: ';' and 3 bytes back
        if (write(fd, &code, 1) != 1) break;
        std::uint8_t answer[4];
        std::size_t got = 0;
        while (got < 4) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            const ssize_t r = read(fd, answer + got, 4 - got);
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        raw.push_back(static_cast<double>(bench::monotonicNs() - t0) / 1000.0);

        t0 = bench::monotonicNs();
        if (TKAgetControl(0) < 0) std::fprintf(stderr, "no answer to the control word\n");
        lib.push_back(static_cast<double>(bench::monotonicNs() - t0) / 1000.0);
    }
    out.raw.rounds.push_back(median(raw));
    out.library.rounds.push_back(median(lib));
}

// ---------------------------------------------------------------- many ports

struct ManyPorts {
    int ports = 0;
    Series threads, relay, epoll, library;  // process CPU ns per frame
};

void manyPortsRound(WriterFarm& farm, const std::vector<int>& eventFds, int ticks, ManyPorts& out) {
    const int n = out.ports;
    const std::uint64_t total = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(ticks);
    const std::uint64_t perPortBytes = static_cast<std::uint64_t>(ticks) * 5;
    {
        // A thread per line, blocking reads; the threads wait before the clock starts.
        std::atomic<int> ready{0};
        std::atomic<std::uint64_t> bytes{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < n; ++i) {
            threads.emplace_back([&, i] {
                ready.fetch_add(1);
                bytes.fetch_add(bareBulkRead(farm.slave(n + i), perPortBytes));
            });
        }
        while (ready.load() < n) usleep(1000);
        usleep(20000);
        const std::int64_t c0 = bench::processCpuNs();
        farm.paced(n, n, ticks, 100);
        for (auto& t : threads) t.join();
        out.threads.rounds.push_back(perFrame(bench::processCpuNs() - c0, total));
        checkCount("thread per port", farm.written(), bytes.load() / 5);
    }
    {
        // The floor of a reading thread per line (see Relay); one application
        // thread waits in epoll over the relays' eventfds.
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        std::vector<std::unique_ptr<Relay>> relays;
        for (int i = 0; i < n; ++i) {
            relays.push_back(std::make_unique<Relay>(farm.slave(n + i), perPortBytes));
            epoll_event e{EPOLLIN, {}};
            e.data.u32 = static_cast<std::uint32_t>(i);
            epoll_ctl(ep, EPOLL_CTL_ADD, relays.back()->event(), &e);
        }
        for (const auto& r : relays) {
            while (!r->started()) usleep(1000);
        }
        usleep(20000);
        std::vector<epoll_event> woke(static_cast<std::size_t>(n));
        std::uint64_t bytes = 0;
        const std::int64_t c0 = bench::processCpuNs();
        farm.paced(n, n, ticks, 100);
        while (bytes < total * 5) {
            const int k = epoll_wait(ep, woke.data(), n, 2000);
            if (k <= 0) break;
            for (int j = 0; j < k; ++j) bytes += relays[woke[static_cast<std::size_t>(j)].data.u32]->consume();
        }
        out.relay.rounds.push_back(perFrame(bench::processCpuNs() - c0, total));
        checkCount("relay thread per port", farm.written(), bytes / 5);
        relays.clear();
        close(ep);
    }
    {
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < n; ++i) {
            epoll_event e{EPOLLIN, {}};
            e.data.u32 = static_cast<std::uint32_t>(n + i);
            epoll_ctl(ep, EPOLL_CTL_ADD, farm.slave(n + i), &e);
        }
        std::vector<epoll_event> ready(static_cast<std::size_t>(n));
        std::uint8_t buf[4096];
        std::uint64_t bytes = 0;
        const std::int64_t c0 = bench::processCpuNs();
        farm.paced(n, n, ticks, 100);
        while (bytes < total * 5) {
            const int k = epoll_wait(ep, ready.data(), n, 2000);
            if (k <= 0) break;
            for (int j = 0; j < k; ++j) {
                const ssize_t r = read(farm.slave(static_cast<int>(ready[static_cast<std::size_t>(j)].data.u32)), buf, sizeof buf);
                if (r > 0) bytes += static_cast<std::uint64_t>(r);
            }
        }
        out.epoll.rounds.push_back(perFrame(bench::processCpuNs() - c0, total));
        checkCount("one epoll thread", farm.written(), bytes / 5);
        close(ep);
    }
    {
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < n; ++i) {
            epoll_event e{EPOLLIN, {}};
            e.data.u32 = static_cast<std::uint32_t>(i);
            epoll_ctl(ep, EPOLL_CTL_ADD, eventFds[static_cast<std::size_t>(i)], &e);
        }
        std::vector<epoll_event> ready(static_cast<std::size_t>(n));
        std::vector<double> buf(512);
        std::uint64_t got = 0;
        const std::int64_t c0 = bench::processCpuNs();
        farm.paced(0, n, ticks, 100);
        while (got < total) {
            const int k = epoll_wait(ep, ready.data(), n, 2000);
            if (k <= 0) break;
            for (int j = 0; j < k; ++j) got += drainPort(ready[static_cast<std::size_t>(j)].data.u32, buf);
        }
        out.library.rounds.push_back(perFrame(bench::processCpuNs() - c0, total));
        checkCount("library, many ports", farm.written(), got);
        close(ep);
    }
}

// ---------------------------------------------------------------- parser and store in memory

struct ParseStore {
    Series plain, library;  // million frames per second
};

// What the receive path does at its least: split the frames, decode, store.
std::uint32_t plainDecodeAndStore(const std::vector<std::uint8_t>& bytes, SampleRecord* ring, std::uint32_t mask,
                                  std::uint32_t head) {
    const std::uint8_t* p = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i + 5 <= n) {
        if (p[i] != ',') {
            ++i;
            continue;
        }
        ring[head] = SampleRecord{std::uint32_t{p[i + 2]} << 16 | std::uint32_t{p[i + 3]} << 8 | p[i + 4], p[i + 1],
                                  kKind24, 0};
        head = (head + 1) & mask;
        i += 5;
    }
    return head;
}

void parseRound(std::uint64_t frames, ParseStore& out) {
    std::vector<std::uint8_t> bytes(frames * 5);
    for (std::uint64_t i = 0; i < frames; ++i) WriterFarm::frame(i * 2654435761u, bytes.data() + i * 5);
    constexpr std::uint32_t kCapacity = 1 << 16;
    {
        std::vector<SampleRecord> ring(kCapacity);
        std::uint32_t head = 0;
        const std::int64_t c0 = bench::threadCpuNs();
        head = plainDecodeAndStore(bytes, ring.data(), kCapacity - 1, head);
        const std::int64_t ns = bench::threadCpuNs() - c0;
        checkCount("plain loop", frames % kCapacity, head);
        out.plain.rounds.push_back(static_cast<double>(frames) * 1e3 / static_cast<double>(ns));
    }
    {
        platform::Mutex ringMutex;
        PortSession s;
        s.ringMutex = &ringMutex;
        s.rxBuffer.reset(new std::uint8_t[kRxBufferSize]);
        s.ring.allocate(kCapacity);
        s.holdValues = 0;
        auto device = std::make_unique<bench::MemoryDevice>(bytes);
        auto* dev = device.get();
        s.device = std::move(device);
        const std::int64_t c0 = bench::threadCpuNs();
        while (!dev->atEnd()) receiveOnce(s);
        const std::int64_t ns = bench::threadCpuNs() - c0;
        checkCount("receive path in memory", frames % kCapacity, s.ring.head());
        out.library.rounds.push_back(static_cast<double>(frames) * 1e3 / static_cast<double>(ns));
        s.device.reset();
    }
}

void raiseDescriptorLimit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

}  // namespace

int main() {
    const int rounds = static_cast<int>(envNum("ROUNDS", 5));
    const auto frames = static_cast<std::uint64_t>(envNum("FRAMES", 1000000));
    const std::vector<int> portCounts = envList("PORTS", "64,256,1024");
    const int ticks = static_cast<int>(envNum("TICKS", 200));
    const int wakes = static_cast<int>(envNum("WAKES", 500));
    const int trips = static_cast<int>(envNum("TRIPS", 1000));
    const auto parseFrames = static_cast<std::uint64_t>(envNum("PARSE_FRAMES", 2000000));
    raiseDescriptorLimit();
    setSettleAfterOpenMs(0);  // the rest after opening is for real adapters; a pseudo-terminal needs none
    const std::int64_t start = bench::monotonicNs();
    const auto progress = [start](const char* what) {
        std::fprintf(stderr, "%6.1f s  %s\n", static_cast<double>(bench::monotonicNs() - start) * 1e-9, what);
    };

    FullSpeed full;
    WakeUp wake;
    RoundTrip trip;
    {
        WriterFarm farm(3);  // the library's line, a bare line, the relay's line
        const int ev = activate(0, farm.path(0), 1 << 20);
        progress("one port activated");
        for (int r = 0; r < rounds; ++r) {
            if (frames > 0) fullSpeedRound(farm, ev, frames, full);
            progress("full speed");
            if (wakes > 0) wakeRound(farm, ev, wakes, wake);
            progress("wake-up");
            if (trips > 0) roundTripRound(farm, trips, trip);
            progress("round trip");
        }
        release(0);
    }
    std::vector<ManyPorts> many;
    for (int n : portCounts) {
        if (n <= 0) continue;
        ManyPorts m;
        m.ports = n;
        WriterFarm farm(2 * n);
        std::vector<int> events;
        for (int i = 0; i < n; ++i) events.push_back(activate(static_cast<unsigned>(i), farm.path(i), 4096));
        progress("ports activated");
        for (int r = 0; r < rounds; ++r) {
            manyPortsRound(farm, events, ticks, m);
            progress("many ports");
        }
        releaseAll(n);
        progress("ports released");
        many.push_back(m);
    }
    ParseStore parse;
    for (int r = 0; r < rounds && parseFrames > 0; ++r) parseRound(parseFrames, parse);
    progress("parser");

    std::printf("Rounds: %d. Figures are medians over the rounds; a ratio is the library's figure over the "
                "baseline's in the same round, median (lowest-highest).\n\n",
                rounds);
    if (!full.library.rounds.empty()) {
    std::printf("### One port at full speed\n\n%llu 5-byte frames written as fast as the line takes them; CPU "
                "time of the whole reading process per frame.\n\n",
                static_cast<unsigned long long>(frames));
    std::printf("| reader | ns per frame | library / reader | before |\n|---|---|---|---|\n");
    std::printf("| library (receive thread, application on the event, TKAreadMultiple) | %.1f | | |\n",
                full.library.med());
    std::printf("| bare read(fd, buf, 4096) loop | %.1f | %s | 3.5x |\n", full.bare.med(),
                ratioText(full.library, full.bare).c_str());
    std::printf("| serial-port library reader (blocking read of what is there) | %.1f | %s | 2.4x |\n\n",
                full.serialport.med(), ratioText(full.library, full.serialport).c_str());
    }
    if (!many.empty()) {

    std::printf("### Many ports at 100 frames/s each\n\n%d frames per port; CPU time of the whole process per "
                "frame.\n\n",
                ticks);
    std::printf("| ports | library ns | thread per port ns | relay ns | one epoll thread ns | library / thread per port | "
                "before | library / relay | library / epoll | before |\n|---|---|---|---|---|---|---|---|---|---|\n");
    const char* beforeThreads[] = {"1.7x", "1.8x", "1.2x"};
    for (std::size_t i = 0; i < many.size(); ++i) {
        const ManyPorts& m = many[i];
        const char* before = m.ports == 64 ? beforeThreads[0] : m.ports == 256 ? beforeThreads[1]
                             : m.ports == 1024 ? beforeThreads[2] : "";
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %s | %s | %s | %s | 3.5x-4.4x |\n", m.ports, m.library.med(),
                    m.threads.med(), m.relay.med(), m.epoll.med(), ratioText(m.library, m.threads).c_str(), before,
                    ratioText(m.library, m.relay).c_str(), ratioText(m.library, m.epoll).c_str());
    }
    std::printf("\n");
    }
    if (!wake.library.rounds.empty()) {
    std::printf("### Wake-up\n\n%d single frames; from just before the writer's write to the return of the "
                "reader's poll(), median.\n\n",
                wakes);
    std::printf("| waiter | us | library / waiter | before |\n|---|---|---|---|\n");
    std::printf("| library's data event | %.1f | | |\n", wake.library.med());
    std::printf("| bare poll() on the pseudo-terminal | %.1f | %s | 2.1x |\n", wake.bare.med(),
                ratioText(wake.library, wake.bare).c_str());
    std::printf("| bare relay: a thread polls and reads the line, then writes an eventfd the waiter polls | %.1f | %s "
                "| |\n\n",
                wake.relay.med(), ratioText(wake.library, wake.relay).c_str());
    }
    if (!trip.library.rounds.empty()) {
    std::printf("### Command round trip\n\n%d control-word queries (1 byte out, 4 back), median.\n\n", trips);
    std::printf("| path | us | library / raw | before |\n|---|---|---|---|\n");
    std::printf("| TKAgetControl | %.1f | | |\n", trip.library.med());
    std::printf("| raw write, poll and read | %.1f | %s | 1.0x |\n\n", trip.raw.med(),
                ratioText(trip.library, trip.raw).c_str());
    }
    if (!parse.library.rounds.empty()) {
    std::printf("### Parser and ring store, in memory\n\n%llu 5-byte frames, one thread, no system calls.\n\n",
                static_cast<unsigned long long>(parseFrames));
    std::printf("| path | million frames/s | library / plain | before |\n|---|---|---|---|\n");
    std::printf("| receive path (device read from memory, parser, ring store) | %.0f | | |\n", parse.library.med());
    std::printf("| plain decode-and-store loop | %.0f | %s | 0.17x |\n\n", parse.plain.med(),
                ratioText(parse.library, parse.plain).c_str());
    }
    if (lost) std::printf("**Frames were lost in this run (see the error output); its figures are not valid.**\n");
    return lost ? 1 : 0;
}
