// The system's serial device on a pseudo-terminal: the test holds the master,
// the device under test opens the slave.
#include "platform/platform.h"
#include "platform/virtual_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nxtka::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) return;
        slave_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        if (observer_ >= 0) ::close(observer_);
        closeMaster();
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }

    // A second slave handle that never reads; it shows how much input the
    // slave has queued. Open it before the device (the device is exclusive).
    void observe() { observer_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK); }
    int queued() const {
        int n = -1;
        return ioctl(observer_, FIONREAD, &n) == 0 ? n : -1;
    }
    bool waitQueued(int n) const {
        const auto t0 = Clock::now();
        while (queued() != n) {
            if (msSince(t0) > 5000) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    void write(const Bytes& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
            } else if (!(n < 0 && errno == EINTR)) {
                ADD_FAILURE() << "master write failed, errno " << errno;
                return;
            }
        }
    }

    // Reads `count` bytes from the master, giving up after `ms` without data.
    Bytes read(std::size_t count, int ms = 5000) const {
        Bytes out;
        std::uint8_t chunk[4096];
        while (out.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, ms) <= 0) break;
            const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), chunk, chunk + n);
            } else if (!(n < 0 && (errno == EAGAIN || errno == EINTR))) {
                break;
            }
        }
        return out;
    }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int observer_ = -1;
    std::string slave_;
};

ReadResult readInto(SerialDevice& d, Bytes& out, std::uint32_t min, std::uint32_t max) {
    std::vector<std::uint8_t> buf(max);
    const ReadResult r = d.read(buf.data(), min, max);
    if (r.status == ReadResult::Ok) out.insert(out.end(), buf.begin(), buf.begin() + r.count);
    return r;
}

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }
    std::unique_ptr<SerialDevice> openDevice() {
        auto d = openSystemDevice(pty.slave());
        EXPECT_NE(d, nullptr);
        return d;
    }
    Pty pty;
};

// ---------------------------------------------------------------- opening

TEST_F(SerialPty, OpenIsExclusiveUntilTheDeviceIsDestroyed) {
    auto first = openDevice();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(openSystemDevice(pty.slave()), nullptr);
    first.reset();
    auto again = openDevice();
    EXPECT_NE(again, nullptr);
}

TEST(SerialOpen, RefusesWhatIsNoTerminal) {
    EXPECT_EQ(openSystemDevice("/dev/null"), nullptr);
    EXPECT_EQ(openSystemDevice("/nonexistent/ttyS0"), nullptr);
    char path[] = "/tmp/nxtka-serial-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(openSystemDevice(path), nullptr);
    ::unlink(path);
}

TEST_F(SerialPty, OpenersReachTheSystemDevice) {
    // The default opener and the virtual links' opener for a name that is no link.
    setDeviceOpener(nullptr);
    auto viaDefault = platform::openDevice(pty.slave());
    ASSERT_NE(viaDefault, nullptr);
    viaDefault.reset();
    auto viaLinks = VirtualLink::open(pty.slave());
    ASSERT_NE(viaLinks, nullptr);
    EXPECT_EQ(platform::openDevice(pty.slave()), nullptr) << "held by the other opener";
}

// ---------------------------------------------------------------- line settings

TEST_F(SerialPty, AnySpeedIsAppliedAndReadBack) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    for (std::uint32_t baud : {38400u, 921600u, 1250000u, 12345u}) {
        LineSettings ls;
        ls.baudRate = baud;
        ASSERT_TRUE(d->setLineSettings(ls)) << baud;
        LineSettings back;
        back.baudRate = 1;
        ASSERT_TRUE(d->getLineSettings(back));
        EXPECT_EQ(back.baudRate, baud);
        EXPECT_EQ(back.dataBits, 8);
        EXPECT_EQ(back.parity, 0);
        EXPECT_EQ(back.stopBits, 0);
    }
    LineSettings zero;
    zero.baudRate = 0;
    EXPECT_FALSE(d->setLineSettings(zero));
}

TEST_F(SerialPty, HandshakeAndModemLinesOnAPseudoTerminal) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    using C = LineSettings::Control;
    LineSettings ls;
    ls.rts = C::Handshake;
    ls.ctsFlow = true;
    ASSERT_TRUE(d->setLineSettings(ls));
    LineSettings back;
    ASSERT_TRUE(d->getLineSettings(back));
    EXPECT_TRUE(back.ctsFlow);
    EXPECT_EQ(back.rts, C::Handshake);

    // No modem lines to set: DTR and RTS changes are skipped, not failures.
    ls.rts = C::Disable;
    ls.dtr = C::Disable;
    ls.ctsFlow = false;
    ASSERT_TRUE(d->setLineSettings(ls));
    ASSERT_TRUE(d->getLineSettings(back));
    EXPECT_FALSE(back.ctsFlow);
    ls.rts = C::Enable;
    ls.dtr = C::Enable;
    EXPECT_TRUE(d->setLineSettings(ls));

    std::uint32_t bits = 0;
    EXPECT_FALSE(d->modemStatus(bits)) << "a pseudo-terminal has no modem lines";

    std::uint32_t errors = 1;
    EXPECT_TRUE(d->clearErrors(errors));
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(d->setZeroTimeouts());
    EXPECT_TRUE(d->clearEventMask());
    EXPECT_TRUE(d->setQueueSizes(65536, 4096));
    std::uint32_t flushError = 1;
    EXPECT_TRUE(d->flush(flushError));
    EXPECT_EQ(flushError, 0u);
}

TEST_F(SerialPty, BytesPassUnchangedBothWays) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->setLineSettings(LineSettings{}));
    const Bytes special = {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x1A, 0x04, 0x7F, 0x00, 0xFF, 0x1C, 0x15, 0x0D};
    pty.write(special);
    Bytes got;
    while (got.size() < special.size()) {
        const ReadResult r = readInto(*d, got, 1, 64);
        ASSERT_EQ(r.status, ReadResult::Ok);
    }
    EXPECT_EQ(got, special);

    const WriteStart w = d->startWrite(special.data(), static_cast<std::uint32_t>(special.size()));
    ASSERT_EQ(w.status, WriteStart::Completed);
    EXPECT_EQ(w.count, special.size());
    EXPECT_EQ(pty.read(special.size()), special);
    EXPECT_TRUE(pty.read(1, 50).empty()) << "nothing echoed or added";
}

// ---------------------------------------------------------------- reads

TEST_F(SerialPty, ReadCompletesOnlyWithMinBytesAndHandsOverWhatIsThere) {
    pty.observe();
    auto d = openDevice();
    ASSERT_NE(d, nullptr);

    pty.write({1, 2, 3});
    ASSERT_TRUE(pty.waitQueued(3));
    std::atomic<bool> finished{false};
    Bytes got;
    ReadResult r{};
    std::thread reader([&] {
        r = readInto(*d, got, 5, 64);
        finished.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(finished.load()) << "completed with 3 of 5 bytes";
    pty.write({4, 5, 6, 7});
    reader.join();
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_GE(r.count, 5u);
    while (got.size() < 7) ASSERT_EQ(readInto(*d, got, 1, 64).status, ReadResult::Ok);
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5, 6, 7}));

    // All of it queued before the read: the first read takes 3, the next one
    // gets every remaining byte at once, a third is limited by max.
    pty.write({10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21});
    ASSERT_TRUE(pty.waitQueued(12));
    got.clear();
    r = readInto(*d, got, 3, 3);
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(r.count, 3u);
    r = readInto(*d, got, 1, 5);
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(r.count, 5u);
    r = readInto(*d, got, 1, 64);
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(r.count, 4u);
    EXPECT_EQ(got, (Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}));
}

TEST_F(SerialPty, SmallReadsOfALongStreamKeepEveryByteInOrder) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    constexpr std::size_t kFrames = 20000;  // 100 kB, more than the read buffer
    Bytes stream(kFrames * 5);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    std::thread writer([&] { pty.write(stream); });
    Bytes got;
    got.reserve(stream.size());
    std::uint8_t frame[5];
    bool ok = true;
    for (std::size_t i = 0; i < kFrames && ok; ++i) {
        const ReadResult head = d->read(frame, 1, 1);
        const ReadResult rest = d->read(frame + 1, 4, 4);
        ok = head.status == ReadResult::Ok && head.count == 1 && rest.status == ReadResult::Ok && rest.count == 4;
        got.insert(got.end(), frame, frame + 5);
    }
    writer.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, stream);
}

TEST_F(SerialPty, PurgeRxAbortEndsABlockedReadAndKeepsWhatArrived) {
    pty.observe();
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    pty.write({1, 2});
    ASSERT_TRUE(pty.waitQueued(2));

    Bytes got;
    ReadResult r{};
    Clock::time_point ended;
    std::thread reader([&] {
        r = readInto(*d, got, 5, 5);
        ended = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto purged = Clock::now();
    ASSERT_TRUE(d->purge(kPurgeRxAbort));
    reader.join();
    EXPECT_EQ(r.status, ReadResult::Aborted);
    EXPECT_EQ(r.error, errorCodes().aborted);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - purged).count(), 500);

    // The abort is used up: the next read completes with the bytes that were
    // already there and the ones that follow.
    pty.write({3, 4, 5});
    r = readInto(*d, got, 5, 5);
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(SerialPty, PurgeRxAbortBetweenReadsEndsTheNextReadOnce) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->purge(kPurgeRxAbort));
    Bytes got;
    EXPECT_EQ(readInto(*d, got, 1, 8).status, ReadResult::Aborted);
    pty.write({9});
    const ReadResult r = readInto(*d, got, 1, 8);
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(got, Bytes{9});
}

TEST_F(SerialPty, PurgeRxClearDropsBufferedAndQueuedInput) {
    pty.observe();
    auto d = openDevice();
    ASSERT_NE(d, nullptr);

    // Bytes already taken into the device's own buffer.
    pty.write({1, 2, 3, 4});
    ASSERT_TRUE(pty.waitQueued(4));
    Bytes got;
    ASSERT_EQ(readInto(*d, got, 1, 1).status, ReadResult::Ok);
    ASSERT_TRUE(d->purge(kPurgeRxClear));
    pty.write({0x55});
    ASSERT_EQ(readInto(*d, got, 1, 64).status, ReadResult::Ok);
    EXPECT_EQ(got, (Bytes{1, 0x55}));

    // Bytes still in the system's queue.
    pty.write({5, 6, 7});
    ASSERT_TRUE(pty.waitQueued(3));
    ASSERT_TRUE(d->purge(kPurgeRxClear));
    EXPECT_EQ(pty.queued(), 0);
    pty.write({0x66});
    got.clear();
    ASSERT_EQ(readInto(*d, got, 1, 64).status, ReadResult::Ok);
    EXPECT_EQ(got, Bytes{0x66});
}

TEST_F(SerialPty, PeerCloseFailsReadsWithEio) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    ReadResult blocked{};
    std::thread reader([&] {
        std::uint8_t b[8];
        blocked = d->read(b, 1, 8);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.closeMaster();
    reader.join();
    EXPECT_EQ(blocked.status, ReadResult::Failed);
    EXPECT_EQ(blocked.error, static_cast<std::uint32_t>(EIO));
    // Every later read returns at once with the same failure.
    for (int i = 0; i < 3; ++i) {
        std::uint8_t b[8];
        const ReadResult r = d->read(b, 1, 8);
        EXPECT_EQ(r.status, ReadResult::Failed);
        EXPECT_EQ(r.error, static_cast<std::uint32_t>(EIO));
    }
    const std::uint8_t byte = 0x42;
    EXPECT_EQ(d->startWrite(&byte, 1).status, WriteStart::Failed);
}

// ---------------------------------------------------------------- writes

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
    return b;
}

bool readable(const Event& e) {
    pollfd p{static_cast<int>(e.nativeHandle()), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TEST_F(SerialPty, AWriteTheLineCannotTakeFinishesInTheBackground) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    Event& done = d->writeDone();
    EXPECT_TRUE(done.isSet());
    EXPECT_TRUE(readable(done));

    const Bytes data = pattern(256 * 1024);
    const WriteStart w = d->startWrite(data.data(), static_cast<std::uint32_t>(data.size()));
    ASSERT_EQ(w.status, WriteStart::Pending);
    EXPECT_LT(w.count, data.size());
    EXPECT_FALSE(done.isSet());
    EXPECT_FALSE(readable(done));
    const std::uint8_t more = 1;
    EXPECT_EQ(d->startWrite(&more, 1).status, WriteStart::Failed) << "one write at a time";

    const Bytes arrived = pty.read(data.size());
    EXPECT_TRUE(done.wait(10000));
    EXPECT_TRUE(readable(done));
    std::uint32_t transferred = 0;
    EXPECT_TRUE(d->waitWrite(transferred));
    EXPECT_EQ(transferred, data.size());
    EXPECT_EQ(arrived, data);

    const WriteStart small = d->startWrite(data.data(), 10);
    EXPECT_EQ(small.status, WriteStart::Completed);
    EXPECT_EQ(small.count, 10u);
    EXPECT_EQ(pty.read(10), Bytes(data.begin(), data.begin() + 10));
}

TEST_F(SerialPty, PurgeTxAbortEndsABackgroundWrite) {
    auto d = openDevice();
    ASSERT_NE(d, nullptr);
    const Bytes data = pattern(256 * 1024);
    ASSERT_EQ(d->startWrite(data.data(), static_cast<std::uint32_t>(data.size())).status, WriteStart::Pending);
    ASSERT_TRUE(d->purge(kPurgeTxAbort));
    EXPECT_TRUE(d->writeDone().wait(5000));
    std::uint32_t transferred = 0;
    EXPECT_FALSE(d->waitWrite(transferred));
    EXPECT_LT(transferred, data.size());

    // Destroying the device with a write in flight ends it too.
    pty.read(data.size(), 50);
    ASSERT_EQ(d->startWrite(data.data(), static_cast<std::uint32_t>(data.size())).status, WriteStart::Pending);
    d.reset();
}

}  // namespace
}  // namespace nxtka::platform
