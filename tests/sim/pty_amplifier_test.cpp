// The pseudo-terminal front end, end to end: the test is the host and opens
// the slave side raw, as the library opens a serial port.
#include "pty_amplifier.h"

#include "core/command_table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace nxtka::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RawPort {
public:
    explicit RawPort(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0) return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        ::tcflush(fd_, TCIFLUSH);
    }
    ~RawPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool write(const Bytes& b) { return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }

    // Reads until `n` bytes came or `ms` passed without completing.
    Bytes read(std::size_t n, int ms = 3000) {
        Bytes got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    // True when reads end with an error or end of file (the other side went
    // away) within `ms`; bytes read meanwhile are counted in `drained`.
    bool seesHangUp(int ms, std::size_t& drained) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, sizeof buf);
            if (r <= 0) return true;
            drained += static_cast<std::size_t>(r);
        }
        return false;
    }

private:
    int fd_;
};

Config quiet() {
    Config c;
    c.stream.rate = 0;
    return c;
}

std::string tempLinkName(const char* tag) {
    return "/tmp/nxtka-sim-test-" + std::to_string(::getpid()) + "-" + tag;
}

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(PtyAmplifier, AnswersIdentificationThroughTheSymlinkWithoutEcho) {
    PtyOptions opt;
    opt.symlink = tempLinkName("id");
    PtyAmplifier amp(quiet(), opt);
    EXPECT_EQ(amp.symlinkPath(), opt.symlink);
    ASSERT_EQ(amp.slavePath().rfind("/dev/pts/", 0), 0u) << amp.slavePath();

    RawPort host(opt.symlink);
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.write({42, 3}));
    // An echo would put 42 3 in front of the answer.
    EXPECT_EQ(host.read(5), (Bytes{'$', 0x00, 0x00, 0x28, 3}));
    EXPECT_TRUE(host.read(1, 50).empty());
    EXPECT_TRUE(amp.model().waitForCommand(cmd::kIdentify, std::chrono::seconds(1)));

    amp.stop();
    EXPECT_FALSE(exists(opt.symlink)) << "symlink removed at stop";
}

TEST(PtyAmplifier, KeepsServingAcrossHostReopens) {
    PtyAmplifier amp(quiet());
    for (int round = 0; round < 3; ++round) {
        RawPort host(amp.slavePath());
        ASSERT_TRUE(host.ok()) << "round " << round;
        ASSERT_TRUE(host.write({43}));
        EXPECT_EQ(host.read(3), (Bytes{';', 0x0C, 0x10})) << "round " << round;
    }
    EXPECT_EQ(amp.model().commandCount(cmd::kGetFirmware), 3u);
    EXPECT_FALSE(amp.closed());
}

TEST(PtyAmplifier, ValueFramesArePacedToTheLineSpeed) {
    Config cfg = quiet();
    cfg.stream.level = 0.5;
    PtyOptions opt;
    opt.baud = 38400;
    PtyAmplifier amp(cfg, opt);
    RawPort host(amp.slavePath());
    ASSERT_TRUE(host.ok());
    const auto start = Clock::now();
    ASSERT_TRUE(host.write(Bytes(100, 59)));
    const Bytes got = host.read(500, 5000);
    const auto elapsed = Clock::now() - start;
    ASSERT_EQ(got.size(), 500u);
    // 500 bytes of ten bit times each cannot pass a 38400 bit/s line in less
    // than 130 ms (less the pacer's 1 ms of slack).
    EXPECT_GE(elapsed, std::chrono::milliseconds(120));
    const std::uint32_t raw = AmplifierModel::rawCode24(0.5, true);
    for (std::size_t i = 0; i < got.size(); i += 5) {
        ASSERT_EQ(got[i], ',') << "frame " << i / 5;
        EXPECT_EQ(static_cast<std::uint32_t>(got[i + 2] << 16 | got[i + 3] << 8 | got[i + 4]), raw);
    }
}

TEST(PtyAmplifier, StreamsAtTheConfiguredRateUntilStopped) {
    Config cfg;
    cfg.stream.rate = 500;
    cfg.stream.kind = FrameKind::Binary16;
    PtyAmplifier amp(cfg);
    RawPort host(amp.slavePath());
    ASSERT_TRUE(host.ok());
    const Bytes got = host.read(30);
    ASSERT_EQ(got.size(), 30u);
    ASSERT_TRUE(host.write({35}));
    ASSERT_TRUE(amp.model().waitForCommand(cmd::kStopTransmit, std::chrono::seconds(2)));
    EXPECT_FALSE(amp.model().transmitting());
}

TEST(PtyAmplifier, HangUpClosesTheMaster) {
    Config cfg;
    cfg.stream.rate = 200;
    PtyAmplifier amp(cfg);
    RawPort host(amp.slavePath());
    ASSERT_TRUE(host.ok());
    Faults f;
    f.hangUpAfterFrames = amp.model().framesSent() + 3;
    amp.model().setFaults(f);
    std::size_t drained = 0;
    EXPECT_TRUE(host.seesHangUp(3000, drained));
    EXPECT_TRUE(amp.closed());
    EXPECT_TRUE(amp.model().hungUp());
    EXPECT_LE(drained, 5u * f.hangUpAfterFrames);
}

TEST(PtyAmplifier, RefusesToReplaceAFileWithTheSymlink) {
    const std::string path = tempLinkName("file");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    PtyOptions opt;
    opt.symlink = path;
    EXPECT_THROW(PtyAmplifier(quiet(), opt), std::system_error);
    EXPECT_TRUE(exists(path));
    ::unlink(path.c_str());

    // A stale symlink is replaced.
    ASSERT_EQ(::symlink("/nonexistent", path.c_str()), 0);
    {
        PtyAmplifier amp(quiet(), opt);
        char target[256] = {};
        ASSERT_GT(::readlink(path.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), amp.slavePath());
    }
    EXPECT_FALSE(exists(path));
}

}  // namespace
}  // namespace nxtka::sim
