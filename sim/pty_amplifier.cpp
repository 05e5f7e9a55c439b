#include "pty_amplifier.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace nxtka::sim {

namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyAmplifier::PtyAmplifier(Config config, Options options)
    : options_(std::move(options)), model_(std::move(config)), pacer_(options_.baud), pump_(model_) {
    try {
        masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (masterFd_ < 0) throwErrno("posix_openpt");
        if (::grantpt(masterFd_) != 0) throwErrno("grantpt");
        if (::unlockpt(masterFd_) != 0) throwErrno("unlockpt");
        char name[128];
        if (::ptsname_r(masterFd_, name, sizeof name) != 0) throwErrno("ptsname_r");
        slavePath_ = name;

        // Held open for the whole run: without it the master reports EIO
        // whenever the host has the slave closed.
        slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd_ < 0) throwErrno("open " + slavePath_);
        termios t{};
        if (::tcgetattr(slaveFd_, &t) != 0) throwErrno("tcgetattr");
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(slaveFd_, TCSANOW, &t) != 0) throwErrno("tcsetattr");

        const int fl = ::fcntl(masterFd_, F_GETFL);
        if (fl < 0 || ::fcntl(masterFd_, F_SETFL, fl | O_NONBLOCK) != 0) throwErrno("fcntl");
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) throwErrno("eventfd");

        if (!options_.symlink.empty()) {
            struct stat st{};
            if (::lstat(options_.symlink.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    errno = EEXIST;
                    throwErrno(options_.symlink);
                }
                ::unlink(options_.symlink.c_str());
            }
            if (::symlink(slavePath_.c_str(), options_.symlink.c_str()) != 0) throwErrno("symlink " + options_.symlink);
            linkMade_ = true;
        }
    } catch (...) {
        closeFd(masterFd_);
        closeFd(slaveFd_);
        closeFd(wakeFd_);
        throw;
    }

    model_.setSink([this](const std::uint8_t* bytes, std::size_t count) { write(bytes, count); });
    model_.setLineSpeedHandler([this](std::uint32_t baud) {
        std::lock_guard lk(fdMu_);
        pacer_.setBaud(baud);
    });
    model_.setHangUpHandler([this] {
        hangUpRequested_ = true;
        signalWake();
    });
    pump_.start();
    io_ = std::thread([this] { ioLoop(); });
}

PtyAmplifier::~PtyAmplifier() { stop(); }

void PtyAmplifier::stop() {
    if (stopped_) return;
    stopped_ = true;
    stop_ = true;
    signalWake();
    if (io_.joinable()) io_.join();
    pump_.stop();
    model_.setSink(nullptr);
    model_.setHangUpHandler(nullptr);
    model_.setLineSpeedHandler(nullptr);
    {
        std::lock_guard lk(fdMu_);
        closeFd(masterFd_);
    }
    closeFd(slaveFd_);
    closeFd(wakeFd_);
    if (linkMade_) {
        char target[256];
        const ssize_t n = ::readlink(options_.symlink.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) ::unlink(options_.symlink.c_str());
        linkMade_ = false;
    }
}

void PtyAmplifier::signalWake() {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) {
        const ssize_t r = ::write(wakeFd_, &one, sizeof one);
        (void)r;  // a full counter is still a pending wake-up
    }
}

void PtyAmplifier::closeMaster() {
    std::lock_guard lk(fdMu_);
    closed_ = true;  // first, so a host that sees the hang-up sees closed() too
    closeFd(masterFd_);
}

void PtyAmplifier::ioLoop() {
    std::uint8_t buf[4096];
    // Only this thread closes the master, so it may poll and read it unlocked.
    pollfd fds[2] = {{masterFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stop_) {
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::perror("nxtka-sim: poll");
            break;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t v;
            const ssize_t n = ::read(wakeFd_, &v, sizeof v);
            (void)n;
        }
        if (stop_) break;
        if (hangUpRequested_ && fds[0].fd >= 0) {
            closeMaster();
            fds[0].fd = -1;  // poll ignores it from now on
            continue;
        }
        if (fds[0].fd < 0 || fds[0].revents == 0) continue;
        const ssize_t n = ::read(fds[0].fd, buf, sizeof buf);
        if (n > 0) {
            model_.feed(buf, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            // Cannot happen while the slave is held open; stop listening rather than spin.
            std::fprintf(stderr, "nxtka-sim: master of %s unreadable (%s)\n", slavePath_.c_str(),
                         n == 0 ? "end of file" : std::strerror(errno));
            fds[0].fd = -1;
        }
    }
}

void PtyAmplifier::write(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard lk(fdMu_);
    if (masterFd_ < 0) return;
    pacer_.pace(count);
    // Nobody reading the slave fills its queue; a line into the void loses
    // bytes rather than stopping the amplifier. After one write timed out,
    // later ones do not wait until the host reads again.
    static constexpr int kWaitMs = 200;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(stalled_ ? 0 : kWaitMs);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(masterFd_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{masterFd_, POLLOUT, 0};
            ::poll(&p, 1, static_cast<int>(left));
            continue;
        }
        break;
    }
    stalled_ = done < count;
    dropped_ += count - done;
}

}  // namespace nxtka::sim
