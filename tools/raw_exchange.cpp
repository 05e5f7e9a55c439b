#include "raw_exchange.h"

#include "cli_core.h"
#include "device_check.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

speed_t speedOf(std::int64_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

bool rawSpeedSupported(std::int64_t baud) { return speedOf(baud) != B0; }

std::vector<std::uint8_t> exchangeRaw(const std::string& device, std::int32_t baud,
                                      const std::vector<std::uint8_t>& bytes, int waitMs) {
    if (auto problem = precheckDevice(device)) throw ToolError(*problem);
    Fd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd.get(), TIOCEXCL) != 0) {
        if (auto problem = explainOpenFailure(device)) throw ToolError(*problem);
        throw ToolError("cannot open " + device + ": " + std::strerror(errno));
    }
    termios t{};
    if (::tcgetattr(fd.get(), &t) != 0) throw ToolError(device + " is not a serial port (not a terminal device)");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&t, speedOf(baud));
    if (::tcsetattr(fd.get(), TCSANOW, &t) != 0)
        throw ToolError("cannot set up " + device + ": " + std::strerror(errno));
    ::tcflush(fd.get(), TCIFLUSH);

    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd.get(), POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            throw ToolError("writing to " + device + " failed: " + std::strerror(errno));
        }
    }

    std::vector<std::uint8_t> back;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        std::uint8_t buf[256];
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0) back.insert(back.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return back;
}

}  // namespace nxtka_cli
