// SerialDevice for a terminal device. Reads go through a 64 KiB buffer that
// only the reading thread touches, filled by one read() per wake-up, so a
// stream of small reads costs about what a bulk read loop costs. A wake-up
// eventfd in the same poll() lets purge() end a blocked read; an unfinished
// write goes on in a writer thread started on first need.
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace nxtka::platform {

namespace tty {
// posix_termios2.cpp
int getLine(int fd, std::uint32_t& baud, std::uint8_t& dataBits, std::uint8_t& parity, std::uint8_t& stopBits,
            bool& rtscts, bool& xonOut, bool& xonIn);
int setRaw(int fd, std::uint32_t baud, bool rtscts, bool xonOut, bool xonIn);
}  // namespace tty

const ErrorCodes& errorCodes() {
    static const ErrorCodes codes{ECANCELED, ENOTSUP};
    return codes;
}

namespace {

constexpr std::size_t kRxBufferBytes = 64 * 1024;
constexpr std::size_t kWriterStackBytes = 64 * 1024;

// Status bits as the library reports them (the values are the same on every
// system; only CTS has a name in the interface).
constexpr std::uint32_t kModemDsr = 0x20;
constexpr std::uint32_t kModemRing = 0x40;
constexpr std::uint32_t kModemDcd = 0x80;

void signalFd(int fd) {
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainFd(int fd) {
    std::uint64_t count = 0;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

std::uint32_t lastError() { return static_cast<std::uint32_t>(errno); }

ReadResult readFailed(std::uint32_t error) { return {ReadResult::Failed, 0, error}; }

class TtyDevice final : public SerialDevice {
public:
    TtyDevice(int fd, int rxWake, int txWake)
        : fd_(fd), rxWake_(rxWake), txWake_(txWake), rx_(new std::uint8_t[kRxBufferBytes]), rxCap_(kRxBufferBytes) {}

    ~TtyDevice() override {
        {
            std::lock_guard<std::mutex> l(wm_);
            txQuit_ = true;
            if (txJob_) txAbort_.store(true);
        }
        wcv_.notify_all();
        signalFd(txWake_);
        writer_.join(kInfinite);
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // releases the flock
        ::close(rxWake_);
        ::close(txWake_);
    }

    bool getLineSettings(LineSettings& out) override {
        std::uint32_t baud = 0;
        std::uint8_t dataBits = 8, parity = 0, stopBits = 0;
        bool rtscts = false, xonOut = false, xonIn = false;
        if (tty::getLine(fd_, baud, dataBits, parity, stopBits, rtscts, xonOut, xonIn) != 0) return false;
        out.baudRate = baud;
        out.dataBits = dataBits;
        out.parity = parity;
        out.stopBits = stopBits;
        out.binary = true;
        out.ctsFlow = rtscts;
        out.xonXoffOut = xonOut;
        out.xonXoffIn = xonIn;
        out.dsrFlow = out.dsrSensitivity = false;
        out.parityCheck = out.errorChar = out.nullStrip = out.abortOnError = false;
        out.txContinueOnXoff = false;
        using C = LineSettings::Control;
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) == 0) {
            out.dtr = (lines & TIOCM_DTR) != 0 ? C::Enable : C::Disable;
            out.rts = rtscts ? C::Handshake : (lines & TIOCM_RTS) != 0 ? C::Enable : C::Disable;
        } else {
            out.dtr = C::Enable;
            out.rts = rtscts ? C::Handshake : C::Enable;
        }
        return true;
    }

    bool setLineSettings(const LineSettings& in) override {
        if (in.baudRate == 0) return false;  // speed 0 would hang the line up
        using C = LineSettings::Control;
        const bool rtscts = in.ctsFlow || in.rts == C::Handshake;
        if (tty::setRaw(fd_, in.baudRate, rtscts, in.xonXoffOut, in.xonXoffIn) != 0) return false;
        return setLine(TIOCM_DTR, in.dtr != C::Disable) && setLine(TIOCM_RTS, in.rts != C::Disable);
    }

    bool setZeroTimeouts() override { return true; }  // reads never time out here anyway
    bool clearEventMask() override { return true; }
    bool setQueueSizes(std::uint32_t input, std::uint32_t output) override {
        // The kernel's queues are fixed; the sizes are only kept.
        inQueue_.store(input);
        outQueue_.store(output);
        return true;
    }

    bool purge(unsigned flags) override {
        bool ok = true;
        if ((flags & kPurgeRxClear) != 0) {
            ok = tcflush(fd_, TCIFLUSH) == 0 && ok;
            clearRequests_.fetch_add(1);
        }
        if ((flags & kPurgeRxAbort) != 0) abortRequests_.fetch_add(1);
        if ((flags & (kPurgeRxClear | kPurgeRxAbort)) != 0) signalFd(rxWake_);
        // Only output still queued in the driver is dropped. A pseudo-terminal
        // reports none although its peer may not have taken the bytes yet, and
        // flushing it would lose bytes that were reported written and drained.
        int queued = 0;
        if ((flags & kPurgeTxClear) != 0 && ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
            ok = tcflush(fd_, TCOFLUSH) == 0 && ok;
        }
        if ((flags & (kPurgeTxAbort | kPurgeTxClear)) != 0) {
            std::lock_guard<std::mutex> l(wm_);
            if (txJob_) {
                txAbort_.store(true);
                signalFd(txWake_);
            }
        }
        return ok;
    }

    bool clearErrors(std::uint32_t& errors) override {
        errors = 0;
        return true;
    }

    bool modemStatus(std::uint32_t& bits) override {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) return false;
        bits = ((lines & TIOCM_CTS) != 0 ? kModemCts : 0u) | ((lines & TIOCM_DSR) != 0 ? kModemDsr : 0u) |
               ((lines & TIOCM_RI) != 0 ? kModemRing : 0u) | ((lines & TIOCM_CD) != 0 ? kModemDcd : 0u);
        return true;
    }

    WriteStart startWrite(const std::uint8_t* bytes, std::uint32_t count) override {
        {
            std::lock_guard<std::mutex> l(wm_);
            if (txJob_) return {WriteStart::Failed, 0, EBUSY};
        }
        ssize_t n = 0;
        if (count != 0) {
            do {
                n = ::write(fd_, bytes, count);
            } while (n < 0 && errno == EINTR);
        }
        if (n < 0 && errno != EAGAIN) return {WriteStart::Failed, 0, lastError()};
        const auto taken = static_cast<std::uint32_t>(std::max<ssize_t>(n, 0));
        std::lock_guard<std::mutex> l(wm_);
        if (taken == count) {
            lastCount_ = count;
            lastOk_ = true;
            return {WriteStart::Completed, count, 0};
        }
        if (!writerStarted_) {
            if (!writer_.start(&TtyDevice::writerMain, this, kWriterStackBytes)) {
                lastCount_ = taken;
                lastOk_ = false;
                return {WriteStart::Failed, 0, EAGAIN};
            }
            writerStarted_ = true;
        }
        txData_.assign(bytes + taken, bytes + count);
        txTaken_ = taken;
        txJob_ = true;
        writeDone_.reset();
        wcv_.notify_all();
        return {WriteStart::Pending, taken, 0};
    }

    bool waitWrite(std::uint32_t& transferred) override {
        writeDone_.wait(kInfinite);
        std::lock_guard<std::mutex> l(wm_);
        transferred = lastCount_;
        return lastOk_;
    }

    Event& writeDone() override { return writeDone_; }

    bool flush(std::uint32_t& error) override {
        int rc;
        do {
            rc = tcdrain(fd_);
        } while (rc != 0 && errno == EINTR);
        error = rc == 0 ? 0 : lastError();
        return rc == 0;
    }

    ReadResult read(std::uint8_t* buf, std::uint32_t min, std::uint32_t max) override {
        if (max == 0) return {ReadResult::Ok, 0, 0};
        min = std::clamp<std::uint32_t>(min, 1, max);
        reserve(min);
        for (;;) {
            const unsigned clears = clearRequests_.load();
            if (clears != clearSeen_) {
                clearSeen_ = clears;
                rxHead_ = rxTail_ = 0;
            }
            const unsigned aborts = abortRequests_.load();
            if (aborts != abortSeen_) {
                abortSeen_ = aborts;
                return {ReadResult::Aborted, 0, errorCodes().aborted};
            }
            const std::size_t avail = rxTail_ - rxHead_;
            if (avail >= min) {
                const std::size_t n = std::min<std::size_t>(avail, max);
                std::memcpy(buf, rx_.get() + rxHead_, n);
                rxHead_ += n;
                if (rxHead_ == rxTail_) rxHead_ = rxTail_ = 0;
                return {ReadResult::Ok, static_cast<std::uint32_t>(n), 0};
            }
            if (rxHead_ != 0 && rxCap_ - rxTail_ < std::max<std::size_t>(min - avail, rxCap_ / 4)) {
                std::memmove(rx_.get(), rx_.get() + rxHead_, avail);
                rxHead_ = 0;
                rxTail_ = avail;
            }
            // Read before waiting while the line is busy; after a short read
            // the kernel queue is most likely empty: wait first instead of a
            // read that fails.
            if (!queueEmpty_) {
                // Nothing buffered and room enough in the caller's buffer: read
                // straight into it, one copy instead of two.
                const bool direct = avail == 0 && max >= kDirectReadBytes;
                std::uint8_t* target = direct ? buf : rx_.get() + rxTail_;
                const std::size_t space = direct ? max : rxCap_ - rxTail_;
                const ssize_t got = ::read(fd_, target, space);
                if (got > 0) {
                    const auto n = static_cast<std::size_t>(got);
                    queueEmpty_ = n < space && n < kBusyReadBytes;
                    if (!direct) {
                        rxTail_ += n;
                        continue;
                    }
                    if (n >= min && clearRequests_.load() == clearSeen_ && abortRequests_.load() == abortSeen_) {
                        return {ReadResult::Ok, static_cast<std::uint32_t>(n), 0};
                    }
                    // Short of the minimum, or a purge came meanwhile: keep the
                    // bytes here and let the loop decide.
                    reserve(n);
                    std::memcpy(rx_.get(), buf, n);
                    rxHead_ = 0;
                    rxTail_ = n;
                    continue;
                }
                if (got == 0) return readFailed(EIO);  // the other end has gone
                if (errno == EINTR) continue;
                if (errno != EAGAIN) return readFailed(lastError());
            }
            queueEmpty_ = false;

            pollfd fds[2] = {{fd_, POLLIN, 0}, {rxWake_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return readFailed(lastError());
            }
            if ((fds[1].revents & POLLIN) != 0) {
                drainFd(rxWake_);
                continue;
            }
            if ((fds[0].revents & POLLIN) == 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return readFailed(EIO);
            }
        }
    }

private:
    bool setLine(int line, bool on) {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
        // Pseudo-terminals and some adapters have no modem lines to set.
        return errno == ENOTTY || errno == EINVAL;
    }

    void reserve(std::size_t bytes) {
        if (rxCap_ >= bytes) return;
        std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[bytes]);
        std::memcpy(bigger.get(), rx_.get() + rxHead_, rxTail_ - rxHead_);
        rxTail_ -= rxHead_;
        rxHead_ = 0;
        rx_ = std::move(bigger);
        rxCap_ = bytes;
    }

    static void writerMain(void* self) { static_cast<TtyDevice*>(self)->writerLoop(); }

    void writerLoop() {
        std::unique_lock<std::mutex> lk(wm_);
        for (;;) {
            wcv_.wait(lk, [this] { return txJob_ || txQuit_; });
            if (!txJob_) return;
            // startWrite() leaves txData_ alone while txJob_ is set.
            const std::uint8_t* data = txData_.data();
            const std::size_t size = txData_.size();
            lk.unlock();
            std::size_t done = 0;
            std::uint32_t error = 0;
            while (done < size) {
                if (txAbort_.load()) {
                    error = errorCodes().aborted;
                    break;
                }
                const ssize_t n = ::write(fd_, data + done, size - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno != EAGAIN) {
                    error = lastError();
                    break;
                }
                pollfd fds[2] = {{fd_, POLLOUT, 0}, {txWake_, POLLIN, 0}};
                if (poll(fds, 2, -1) < 0 && errno != EINTR) {
                    error = lastError();
                    break;
                }
                if ((fds[1].revents & POLLIN) != 0) drainFd(txWake_);
            }
            lk.lock();
            lastCount_ = txTaken_ + static_cast<std::uint32_t>(done);
            lastOk_ = error == 0;
            txData_.clear();
            txJob_ = false;
            txAbort_.store(false);
            writeDone_.set();
        }
    }

    const int fd_;
    static constexpr std::size_t kDirectReadBytes = 4096;
    // A read that brought this much says the line is busy: the next read
    // comes before any wait. Slow lines bring a frame or two a read.
    static constexpr std::size_t kBusyReadBytes = 1024;
    bool queueEmpty_ = false;  // the last read() most likely left nothing in the kernel queue
    const int rxWake_;  // wakes a read blocked in poll()
    const int txWake_;  // wakes the writer blocked in poll()

    // Purge requests for the reading thread, counted so that none is lost.
    std::atomic<unsigned> abortRequests_{0};
    std::atomic<unsigned> clearRequests_{0};
    // Touched only by the reading thread.
    unsigned abortSeen_ = 0;
    unsigned clearSeen_ = 0;
    std::unique_ptr<std::uint8_t[]> rx_;
    std::size_t rxCap_;
    std::size_t rxHead_ = 0;
    std::size_t rxTail_ = 0;

    std::atomic<std::uint32_t> inQueue_{0};
    std::atomic<std::uint32_t> outQueue_{0};

    Event writeDone_{true, true};
    std::mutex wm_;  // guards everything of the write below
    std::condition_variable wcv_;
    std::vector<std::uint8_t> txData_;  // what the writer still has to send
    std::uint32_t txTaken_ = 0;         // bytes startWrite() got out itself
    bool txJob_ = false;
    bool txQuit_ = false;
    std::atomic<bool> txAbort_{false};
    std::uint32_t lastCount_ = 0;
    bool lastOk_ = true;
    bool writerStarted_ = false;
    Thread writer_;
};

int newEventFd() { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

}  // namespace

std::unique_ptr<SerialDevice> openSystemDevice(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // flock first: it also stops root, and a device someone else holds must
    // not get its exclusive flag touched by us.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        // Kept for the caller: "busy" says more than "would block".
        const int why = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = why;
        return nullptr;
    }
    // Raw from the start: a terminal left canonical drops long lines and echoes.
    const int rxWake = newEventFd();
    const int txWake = newEventFd();
    if (rxWake < 0 || txWake < 0 || tty::setRaw(fd, 0, false, false, false) != 0) {
        if (rxWake >= 0) ::close(rxWake);
        if (txWake >= 0) ::close(txWake);
        const int why = errno;
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        errno = why;
        return nullptr;
    }
    return std::make_unique<TtyDevice>(fd, rxWake, txWake);
}

}  // namespace nxtka::platform
