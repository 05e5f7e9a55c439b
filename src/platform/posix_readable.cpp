// Memory test on POSIX: the kernel reads the bytes on our behalf and reports
// EFAULT for an address that is not mapped readable.
#include "platform/posix_readable.h"

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace nxtka::platform {
namespace {

constexpr std::size_t kChunk = 256;

// A pipe takes at least 4096 bytes without blocking; smaller chunks go in
// and are drained again.
class Pipe {
public:
    Pipe() {
        if (pipe2(fd_, O_CLOEXEC | O_NONBLOCK) != 0) fd_[0] = fd_[1] = -1;
    }
    ~Pipe() {
        if (fd_[0] >= 0) ::close(fd_[0]);
        if (fd_[1] >= 0) ::close(fd_[1]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return fd_[0] >= 0; }
    int in() const { return fd_[1]; }
    int out() const { return fd_[0]; }

private:
    int fd_[2];
};

}  // namespace

Probe probeByVmRead(const void* p, std::size_t bytes) {
    unsigned char scratch[kChunk];
    const auto* at = static_cast<const unsigned char*>(p);
    while (bytes > 0) {
        const std::size_t n = std::min(bytes, kChunk);
        iovec local{scratch, n};
        iovec remote{const_cast<unsigned char*>(at), n};
        const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == EFAULT ? Probe::Unreadable : Probe::Unavailable;
        }
        // A short copy stopped at an unreadable page.
        if (static_cast<std::size_t>(got) != n) return Probe::Unreadable;
        at += n;
        bytes -= n;
    }
    return Probe::Readable;
}

Probe probeByPipe(const void* p, std::size_t bytes) {
    Pipe pipe;
    if (!pipe.ok()) return Probe::Unavailable;
    unsigned char drain[kChunk];
    const auto* at = static_cast<const unsigned char*>(p);
    while (bytes > 0) {
        const std::size_t n = std::min(bytes, kChunk);
        const ssize_t put = ::write(pipe.in(), at, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno == EFAULT ? Probe::Unreadable : Probe::Unavailable;
        }
        if (static_cast<std::size_t>(put) != n) return Probe::Unreadable;
        while (::read(pipe.out(), drain, sizeof drain) < 0 && errno == EINTR) {
        }
        at += n;
        bytes -= n;
    }
    return Probe::Readable;
}

bool isReadable(const void* p, std::size_t bytes) {
    if (bytes == 0) return true;
    if (p == nullptr) return false;
    if (reinterpret_cast<std::uintptr_t>(p) + bytes < reinterpret_cast<std::uintptr_t>(p)) return false;
    Probe r = probeByVmRead(p, bytes);
    if (r == Probe::Unavailable) r = probeByPipe(p, bytes);
    return r == Probe::Readable;
}

}  // namespace nxtka::platform
