// Serial devices on Windows: a communications handle opened for overlapped
// I/O, so that a read can wait for its bytes while a write, a purge or a
// settings change goes on from another thread.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace nxtka::platform {

const ErrorCodes& errorCodes() {
    static const ErrorCodes codes{ERROR_OPERATION_ABORTED, ERROR_INVALID_FUNCTION};
    return codes;
}

namespace {

// How long the device's destructor waits for cancelled transfers to end.
constexpr DWORD kCancelWaitMs = 2000;

LineSettings::Control controlOf(DWORD v) {
    switch (v) {
    case 0: return LineSettings::Control::Disable;   // DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE
    case 2: return LineSettings::Control::Handshake; // DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE
    default: return LineSettings::Control::Enable;   // also RTS_CONTROL_TOGGLE
    }
}

// The DCB value of a control mode; the same numbers serve DTR and RTS.
DWORD dcbControl(LineSettings::Control c) {
    switch (c) {
    case LineSettings::Control::Disable: return DTR_CONTROL_DISABLE;
    case LineSettings::Control::Handshake: return DTR_CONTROL_HANDSHAKE;
    default: return DTR_CONTROL_ENABLE;
    }
}

// Everything the system may still write into while a transfer is pending:
// if a cancelled transfer does not end, the destructor leaves this block
// alive rather than let the system write into freed memory or signal a
// handle number that has been reused.
struct Io {
    OVERLAPPED write{};
    OVERLAPPED read{};
    std::vector<std::uint8_t> writeBuffer;
    Event writeDone{true, true};  // the write OVERLAPPED's event
    HANDLE readEvent = nullptr;   // the read OVERLAPPED's event
    std::atomic<bool> readPending{false};

    Io() { readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Io() {
        if (readEvent != nullptr) CloseHandle(readEvent);
    }
};

class Win32Serial final : public SerialDevice {
public:
    Win32Serial(HANDLE h, std::unique_ptr<Io> io) : h_(h), io_(std::move(io)) {}

    ~Win32Serial() override {
        CancelIoEx(h_, nullptr);
        bool settled = true;
        if (writePending_) settled = WaitForSingleObject(writeHandle(), kCancelWaitMs) == WAIT_OBJECT_0;
        if (io_->readPending.load()) {
            settled = WaitForSingleObject(io_->readEvent, kCancelWaitMs) == WAIT_OBJECT_0 && settled;
        }
        CloseHandle(h_);
        if (!settled) static_cast<void>(io_.release());
    }

    bool getLineSettings(LineSettings& out) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h_, &dcb)) return false;
        out.baudRate = dcb.BaudRate;
        out.dataBits = dcb.ByteSize;
        out.parity = dcb.Parity;      // NOPARITY 0, ODDPARITY 1, EVENPARITY 2
        out.stopBits = dcb.StopBits;  // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
        out.binary = dcb.fBinary != 0;
        out.dtr = controlOf(dcb.fDtrControl);
        out.rts = controlOf(dcb.fRtsControl);
        out.ctsFlow = dcb.fOutxCtsFlow != 0;
        out.dsrFlow = dcb.fOutxDsrFlow != 0;
        out.dsrSensitivity = dcb.fDsrSensitivity != 0;
        out.xonXoffOut = dcb.fOutX != 0;
        out.xonXoffIn = dcb.fInX != 0;
        out.parityCheck = dcb.fParity != 0;
        out.errorChar = dcb.fErrorChar != 0;
        out.nullStrip = dcb.fNull != 0;
        out.abortOnError = dcb.fAbortOnError != 0;
        out.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
        return true;
    }

    // Starts from the system's DCB so that what LineSettings does not carry
    // (XON/XOFF characters and limits) stays valid.
    bool setLineSettings(const LineSettings& in) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h_, &dcb)) return false;
        dcb.BaudRate = in.baudRate;
        dcb.ByteSize = in.dataBits;
        dcb.Parity = in.parity;
        dcb.StopBits = in.stopBits;
        dcb.fBinary = in.binary;
        dcb.fDtrControl = dcbControl(in.dtr) & 3u;
        dcb.fRtsControl = dcbControl(in.rts) & 3u;
        dcb.fOutxCtsFlow = in.ctsFlow;
        dcb.fOutxDsrFlow = in.dsrFlow;
        dcb.fDsrSensitivity = in.dsrSensitivity;
        dcb.fOutX = in.xonXoffOut;
        dcb.fInX = in.xonXoffIn;
        dcb.fParity = in.parityCheck;
        dcb.fErrorChar = in.errorChar;
        dcb.fNull = in.nullStrip;
        dcb.fAbortOnError = in.abortOnError;
        dcb.fTXContinueOnXoff = in.txContinueOnXoff;
        return SetCommState(h_, &dcb) != FALSE;
    }

    bool setZeroTimeouts() override {
        COMMTIMEOUTS t{};
        return SetCommTimeouts(h_, &t) != FALSE;
    }

    bool clearEventMask() override { return SetCommMask(h_, 0) != FALSE; }

    bool setQueueSizes(std::uint32_t input, std::uint32_t output) override {
        return SetupComm(h_, input, output) != FALSE;
    }

    // PurgeComm(PURGE_RXABORT) does not end a pending read everywhere, so the
    // read is cancelled as well; an abort that finds no read pending ends the
    // next read at once.
    bool purge(unsigned flags) override {
        DWORD f = 0;
        if ((flags & kPurgeTxAbort) != 0) f |= PURGE_TXABORT;
        if ((flags & kPurgeRxAbort) != 0) f |= PURGE_RXABORT;
        if ((flags & kPurgeTxClear) != 0) f |= PURGE_TXCLEAR;
        if ((flags & kPurgeRxClear) != 0) f |= PURGE_RXCLEAR;
        if ((flags & kPurgeRxAbort) != 0) abortGeneration_.fetch_add(1);
        if ((flags & kPurgeRxClear) != 0) {
            std::lock_guard<std::mutex> lock(keptMu_);
            clearGeneration_.fetch_add(1);
            kept_.clear();
        }
        const bool ok = PurgeComm(h_, f) != FALSE;
        if ((flags & kPurgeRxAbort) != 0) CancelIoEx(h_, &io_->read);
        if ((flags & kPurgeTxAbort) != 0) CancelIoEx(h_, &io_->write);
        return ok;
    }

    bool clearErrors(std::uint32_t& errors) override {
        DWORD e = 0;
        COMSTAT stat{};
        const bool ok = ClearCommError(h_, &e, &stat) != FALSE;
        errors = static_cast<std::uint32_t>(e) | seenErrors_.exchange(0);
        return ok;
    }

    bool modemStatus(std::uint32_t& bits) override {
        DWORD status = 0;
        if (!GetCommModemStatus(h_, &status)) return false;
        bits = (status & MS_CTS_ON) != 0 ? kModemCts : 0u;
        return true;
    }

    WriteStart startWrite(const std::uint8_t* bytes, std::uint32_t count) override {
        Io& io = *io_;
        io.writeBuffer.assign(bytes, bytes + count);
        std::memset(&io.write, 0, sizeof io.write);
        io.write.hEvent = writeHandle();
        DWORD n = 0;
        if (WriteFile(h_, io.writeBuffer.data(), count, &n, &io.write)) {
            lastWrite_ = {true, n};
            io.writeDone.set();
            return {WriteStart::Completed, n, 0};
        }
        const DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            writePending_ = true;
            return {WriteStart::Pending, 0, 0};
        }
        lastWrite_ = {false, 0};
        io.writeDone.set();
        return {WriteStart::Failed, 0, e};
    }

    // With no write pending it reports the last one again.
    bool waitWrite(std::uint32_t& transferred) override {
        if (writePending_) {
            DWORD n = 0;
            const bool ok = GetOverlappedResult(h_, &io_->write, &n, TRUE) != FALSE;
            writePending_ = false;
            lastWrite_ = {ok, n};
            io_->writeDone.set();
        }
        transferred = lastWrite_.count;
        return lastWrite_.ok;
    }

    Event& writeDone() override { return io_->writeDone; }

    bool flush(std::uint32_t& error) override {
        if (FlushFileBuffers(h_)) return true;
        error = GetLastError();
        return false;
    }

    ReadResult read(std::uint8_t* buf, std::uint32_t min, std::uint32_t max) override {
        if (max == 0) return {ReadResult::Ok, 0, 0};
        min = std::clamp<std::uint32_t>(min, 1, max);
        const unsigned clearGeneration = clearGeneration_.load();
        if (abortGeneration_.load() != consumedAbort_) {
            consumedAbort_ = abortGeneration_.load();
            return {ReadResult::Aborted, 0, ERROR_OPERATION_ABORTED};
        }
        std::uint32_t got = takeKept(buf, max);
        if (got >= min) return {ReadResult::Ok, got, 0};

        // Takes what is queued already, up to `max`, but waits for no more
        // than `min`.
        DWORD want = min - got;
        DWORD errors = 0;
        COMSTAT stat{};
        if (ClearCommError(h_, &errors, &stat)) {
            if (errors != 0) seenErrors_.fetch_or(errors);
            want = std::max<DWORD>(want, std::min<DWORD>(stat.cbInQue, max - got));
        }
        Io& io = *io_;
        std::memset(&io.read, 0, sizeof io.read);
        io.read.hEvent = io.readEvent;
        DWORD n = 0;
        io.readPending = true;
        BOOL ok = ReadFile(h_, buf + got, want, &n, &io.read);
        DWORD e = ok ? 0 : GetLastError();
        if (!ok && e == ERROR_IO_PENDING) {
            // A purge that came before the read was pending has cancelled nothing.
            if (abortGeneration_.load() != consumedAbort_) CancelIoEx(h_, &io.read);
            ok = GetOverlappedResult(h_, &io.read, &n, TRUE);
            e = ok ? 0 : GetLastError();
        }
        io.readPending = false;
        if (ok) return {ReadResult::Ok, got + n, 0};

        keepBack(buf, got + (e == ERROR_OPERATION_ABORTED ? n : 0), clearGeneration);
        if (e == ERROR_OPERATION_ABORTED) {
            consumedAbort_ = abortGeneration_.load();
            return {ReadResult::Aborted, 0, e};
        }
        return {ReadResult::Failed, 0, e};
    }

private:
    HANDLE writeHandle() const { return reinterpret_cast<HANDLE>(io_->writeDone.nativeHandle()); }

    // Bytes an aborted read had taken from the system come first next time.
    std::uint32_t takeKept(std::uint8_t* buf, std::uint32_t max) {
        std::lock_guard<std::mutex> lock(keptMu_);
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kept_.size(), max));
        std::copy_n(kept_.begin(), n, buf);
        kept_.erase(kept_.begin(), kept_.begin() + n);
        return n;
    }

    // Unless a purge cleared the input meanwhile.
    void keepBack(const std::uint8_t* buf, std::uint32_t count, unsigned clearGeneration) {
        if (count == 0) return;
        std::lock_guard<std::mutex> lock(keptMu_);
        if (clearGeneration_.load() != clearGeneration) return;
        kept_.insert(kept_.begin(), buf, buf + count);
    }

    HANDLE h_;
    std::unique_ptr<Io> io_;
    // Used under the port's command mutex only.
    bool writePending_ = false;
    struct {
        bool ok;
        DWORD count;
    } lastWrite_{true, 0};

    std::atomic<unsigned> abortGeneration_{0};  // purges with kPurgeRxAbort
    unsigned consumedAbort_ = 0;                // reader only
    std::atomic<std::uint32_t> seenErrors_{0};  // errors read's ClearCommError took away

    std::mutex keptMu_;
    std::atomic<unsigned> clearGeneration_{0};  // purges with kPurgeRxClear, changed under keptMu_
    std::vector<std::uint8_t> kept_;
};

}  // namespace

std::unique_ptr<SerialDevice> openSystemDevice(const std::string& name) {
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // Only a device with a line state is a serial line.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    auto io = std::make_unique<Io>();
    if (!GetCommState(h, &dcb) || io->readEvent == nullptr || io->writeDone.nativeHandle() == 0) {
        CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<Win32Serial>(h, std::move(io));
}

}  // namespace nxtka::platform
