// An in-process serial line for tests and the in-process simulator.
//
// A VirtualLink is the cable: the library side is a SerialDevice that
// activation opens by name, the peer side is what an amplifier model reads
// commands from and writes answers and values to. It also injects the faults
// a pseudo-terminal cannot show (failing flushes, failed or short writes, read
// errors, modem lines, failing line settings, writes that stay pending).
//
// Not tied to any operating system: it uses the standard library and the
// platform events only.
#pragma once

#include "platform/platform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nxtka::platform {

class VirtualLink : public std::enable_shared_from_this<VirtualLink> {
public:
    struct Faults {
        // flush() fails with this system error (0: flush works).
        std::uint32_t flushError = 0;
        // startWrite() fails with this error (0: writes work).
        std::uint32_t writeError = 0;
        // When > 0, writes take only this many bytes and then report success
        // with the short count.
        std::uint32_t shortWrite = 0;
        // Writes report Pending and complete only when the peer calls
        // completePendingWrite() (or at once when this is cleared).
        bool holdWrites = false;
        // setLineSettings() fails.
        bool lineSettingsFail = false;
        // getLineSettings() fails.
        bool getLineSettingsFail = false;
        // The device has modem lines; without them modemStatus() fails.
        bool modemLines = true;
        // State of CTS when the device has modem lines.
        bool cts = true;
        // open() fails (as if the device were busy).
        bool openFails = false;
    };

    // Everything the library did to the device that is not data.
    struct Record {
        LineSettings settings;        // last applied
        int settingsApplied = 0;      // setLineSettings() calls that succeeded
        std::uint32_t inQueue = 0, outQueue = 0;
        int purges = 0;               // purge() calls
        unsigned lastPurgeFlags = 0;
        int flushes = 0;
        int opens = 0;
        int closes = 0;
        bool open = false;
    };

    static std::shared_ptr<VirtualLink> create();

    // ---- registry: activation finds links by device name
    // Makes `name` open this link (replacing an earlier registration).
    void registerAs(const std::string& name);
    static void unregister(const std::string& name);
    // The opener to give to setDeviceOpener(): virtual names first, then the
    // system's devices.
    static std::unique_ptr<SerialDevice> open(const std::string& name);

    // ---- peer side (the amplifier's end of the cable)
    // Bytes for the library to read, in order.
    void peerWrite(const std::uint8_t* bytes, std::size_t count);
    void peerWrite(const std::vector<std::uint8_t>& bytes) { peerWrite(bytes.data(), bytes.size()); }
    // Takes up to `max` bytes the library wrote, waiting at most `ms` for the
    // first one. Returns the number taken (0 on time-out or after close()).
    std::size_t peerRead(std::uint8_t* buf, std::size_t max, std::uint32_t ms);
    // All bytes the library has written so far (kept even after peerRead).
    std::vector<std::uint8_t> written() const;
    // The other end goes away: pending and later reads fail, writes fail.
    void hangUp();
    // The next read of the library fails once with this system error.
    void injectReadError(std::uint32_t error);
    // Lets a write held by Faults::holdWrites complete.
    void completePendingWrite();
    // Wakes peerRead() for good (the peer is shutting down).
    void close();

    // ---- faults and record
    Faults faults() const;
    void setFaults(const Faults& f);
    Record record() const;
    // Bytes waiting for the library to read.
    std::size_t inputPending() const;

    struct Device;  // the library side

private:
    VirtualLink() = default;
    friend struct Device;

    mutable std::mutex mu_;
    std::condition_variable cv_;        // input arrived, purge, hang-up
    std::condition_variable peerCv_;    // output arrived for the peer
    std::condition_variable writeCv_;   // a held write may complete
    std::deque<std::uint8_t> input_;    // peer -> library
    std::deque<std::uint8_t> output_;   // library -> peer, not yet peerRead
    std::vector<std::uint8_t> written_; // library -> peer, everything
    Faults faults_;
    Record record_;
    bool hungUp_ = false;
    bool closed_ = false;
    std::uint32_t readError_ = 0;
    unsigned abortGeneration_ = 0;      // purge(kPurgeRxAbort) count
    Device* device_ = nullptr;          // the open library side, if any
    bool holding_ = false;              // a write is held by Faults::holdWrites
    std::vector<std::uint8_t> held_;    // its bytes
    std::uint32_t lastWriteCount_ = 0;  // outcome of the last write, for waitWrite()
    bool lastWriteOk_ = true;
};

}  // namespace nxtka::platform
