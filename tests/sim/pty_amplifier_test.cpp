// The pseudo-terminal front end, end to end: the test is the host and opens
// the slave side raw, as the library opens a serial port.
#include "pty_amplifier.h"

#include "core/command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// The host's next frame or answer, its length known from its first byte (the
// only answer asked for is the firmware's, two bytes).
Bytes readFrame(RawPort& host) {
    Bytes f = host.read(1);
    if (f.empty()) return f;
    if (f[0] == '+' || f[0] == '-') {
        while (f.back() != '\n') {
            const Bytes b = host.read(1);
            if (b.empty()) break;
            f.push_back(b[0]);
        }
        return f;
    }
    const std::size_t more = f[0] == ',' ? 4 : f[0] == '&' ? 3 : f[0] == 0xA5 || f[0] == ';' ? 2 : 0;
    const Bytes rest = host.read(more);
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
}

// Sends the commands and then the firmware query; true once its answer came
// (the frames before it are skipped). Everything after it was sent with the
// commands in effect.
bool sendAndSync(RawPort& host, Bytes commands) {
    commands.push_back(static_cast<std::uint8_t>(cmd::kGetFirmware.code));
    if (!host.write(commands)) return false;
    for (int frames = 0; frames < 10000; ++frames) {
        const Bytes f = readFrame(host);
        if (f.empty()) return false;
        if (f == Bytes{';', 0x0C, 0x10}) return true;
    }
    return false;
}

// Everything that arrives within `ms`.
Bytes drainFor(RawPort& host, int ms) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        const Bytes b = host.read(1, std::max(left, 1));
        got.insert(got.end(), b.begin(), b.end());
    }
    return got;
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

// A constant 0.25 with status 0x5A. After each row's commands the next frame
// is the row's, by hand (1.05 is the end of scale):
//   24-bit bipolar   0x800000 + round(0.25 x 2^23 / 1.05) = 0x800000 + 1997288 = 0x9E79E8
//   24-bit unipolar  round(0.25 x 2^24 / 1.05) = 3994575 = 0x3CF3CF
//   16-bit bipolar   0x8000 + round(0.25 x 2^15 / 1.05) = 0x8000 + 7802 = 0x9E7A
//   16-bit unipolar  round(0.25 x 2^16 / 1.05) = 15604 = 0x3CF4
//   text             0.25 x display norm: 1 at start, 100 with decimal point 3
TEST(PtyAmplifier, FramesFollowTheFrameKindPolarityAndDisplaySettings) {
    struct Row {
        const char* what;
        Bytes commands;
        Bytes frame;
    };
    const auto text = [](const char* t) { return Bytes(t, t + std::strlen(t)); };
    const Row rows[] = {
        {"at start: 24-bit frames", {}, {',', 0x5A, 0x9E, 0x79, 0xE8}},
        {"unipolar", {21}, {',', 0x5A, 0x3C, 0xF3, 0xCF}},
        {"unipolar, then bipolar again", {21, 20}, {',', 0x5A, 0x9E, 0x79, 0xE8}},
        {"unipolar by the control word", {7, 0x00, 0x10, 0x28}, {',', 0x5A, 0x3C, 0xF3, 0xCF}},
        {"transmit4: '&' frames, status in the low five bits", {128, 0x02}, {'&', 0xBA, 0x9E, 0x7A}},
        {"repeat3: 0xA5 frames", {128, 0x04}, {0xA5, 0x9E, 0x7A}},
        {"repeat3, unipolar", {128, 0x04, 21}, {0xA5, 0x3C, 0xF4}},
        {"transmit5 beside transmit4: 24-bit frames", {128, 0x0A}, {',', 0x5A, 0x9E, 0x79, 0xE8}},
        {"transmit4 and back to none", {128, 0x02, 128, 0x00}, {',', 0x5A, 0x9E, 0x79, 0xE8}},
        {"text flag of the mode", {38, 0x02}, text("+   0.2500\r\n")},
        {"text flag over transmit4", {128, 0x02, 38, 0x43}, text("+   0.2500\r\n")},
        {"text with decimal point 3", {38, 0x02, 17, 3}, text("+  25.0000\r\n")},
        {"text flag cleared again", {38, 0x02, 38, 0x41}, {',', 0x5A, 0x9E, 0x79, 0xE8}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Config cfg;
        cfg.stream.rate = 200;
        cfg.stream.status = 0x5A;
        cfg.stream.transmitting = false;  // the first frame starts after the host is listening
        PtyOptions opt;
        opt.baud = 0;
        PtyAmplifier amp(cfg, opt);
        RawPort host(amp.slavePath());
        ASSERT_TRUE(host.ok());
        Bytes commands = row.commands;
        commands.push_back(static_cast<std::uint8_t>(cmd::kStartTransmit.code));
        ASSERT_TRUE(sendAndSync(host, commands));
        EXPECT_EQ(readFrame(host), row.frame);
        EXPECT_EQ(amp.model().unmodelledCount(), 0u);
    }
}

// Sampling rate in the frequency-linear protocol (bit 23): the word's low 16
// bits are twice the frequency. F = 1 is 0.5 values/s, F = 400 is 200.
TEST(PtyAmplifier, StreamFollowsTheSamplingRateAndTransmission) {
    Config cfg;
    cfg.stream.rate = 50;
    cfg.stream.transmitting = false;
    PtyOptions opt;
    opt.baud = 0;
    PtyAmplifier amp(cfg, opt);
    amp.model().setReg(cmd::kReadSamplingRate, 0x800000);
    RawPort host(amp.slavePath());
    ASSERT_TRUE(host.ok());

    ASSERT_TRUE(sendAndSync(host, {138, 0x80, 0x00, 0x01, 36}));
    EXPECT_EQ(amp.model().stream().rate, 0.5);
    EXPECT_LE(drainFor(host, 1000).size(), 5u) << "one frame at most in a second";

    ASSERT_TRUE(sendAndSync(host, {138, 0x80, 0x01, 0x90}));
    EXPECT_EQ(amp.model().stream().rate, 200.0);
    EXPECT_EQ(host.read(50).size(), 50u) << "ten frames come";

    ASSERT_TRUE(sendAndSync(host, {35}));
    EXPECT_TRUE(drainFor(host, 300).empty()) << "transmission off";

    ASSERT_TRUE(sendAndSync(host, {36}));
    EXPECT_EQ(host.read(50).size(), 50u) << "transmission on again";
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
