// The operating-system services the library needs, and nothing else.
//
// Every call into the operating system goes through this header. One source
// file per operating system implements it (posix_*.cpp, win32_*.cpp); the build
// picks the files, library logic never tests which system it runs on.
//
// Thread-safety: every object here may be used from several threads at once
// unless the contract of an operation says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nxtka::platform {

// ---------------------------------------------------------------- time

// Milliseconds since some fixed moment, wrapping at 2^32. Monotonic: it never
// jumps when the wall clock is set. Differences are taken unsigned, so they
// survive the wrap.
std::uint32_t tickCount();

// The wall clock: nanoseconds since 1970-01-01 00:00 UTC. It jumps when the
// clock is set; use it for time stamps, never for time-outs.
std::int64_t realtimeNs();

// Suspends the calling thread for at least `ms` milliseconds (0 yields).
void sleepMs(std::uint32_t ms);

// ---------------------------------------------------------------- mutex

// Recursive mutex: the owning thread may lock it again and must unlock it as
// often. Unlocking a mutex the calling thread does not own is harmless: it
// returns false and changes nothing (unload relies on this).
class Mutex {
public:
    // `owned`: the creating thread owns the mutex once from the start.
    explicit Mutex(bool owned = false);
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    bool tryLock();
    // Waits at most `ms` milliseconds; true when the mutex is now owned.
    bool lockFor(std::uint32_t ms);
    bool unlock();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend bool lockBoth(Mutex&, Mutex&, std::uint32_t);
};

// Infinite wait marker for lockBoth and Event waits.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Takes both mutexes or neither ("wait for all"): never holds one while
// blocking on the other, so callers need no lock order. `ms` bounds the whole
// wait (kInfinite: no bound). True when both are owned by the caller.
bool lockBoth(Mutex& a, Mutex& b, std::uint32_t ms = kInfinite);

// ---------------------------------------------------------------- events

// Manual-reset event: stays signalled from set() until reset().
//
// A pollable event is also a file descriptor (POSIX) or a waitable handle
// (Windows) that an application can wait on with the system's own means; the
// descriptor is readable exactly while the event is signalled. Events that
// never leave the library are not pollable and cost no descriptor.
class Event {
public:
    explicit Event(bool pollable = false, bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits at most `ms` milliseconds (kInfinite: no bound). True when
    // signalled, false on time-out.
    bool wait(std::uint32_t ms);
    // The handle an application waits on (a file descriptor on POSIX, a HANDLE
    // on Windows); meaningful only for pollable events.
    std::intptr_t nativeHandle() const;

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// Waits until any of `count` events is signalled; returns its index, or -1
// after `ms` milliseconds. Null entries are ignored.
int waitAny(Event* const* events, int count, std::uint32_t ms);

// ---------------------------------------------------------------- threads

// A thread that can be joined after it has ended.
class Thread {
public:
    using Entry = void (*)(void* arg);

    Thread();
    ~Thread();  // joins if still joinable
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `entry(arg)` with a stack of about `stackBytes` (the platform may
    // round it up or enlarge it under instrumentation). False when the thread
    // could not be started.
    bool start(Entry entry, void* arg, std::size_t stackBytes);
    // True once started and not yet finished.
    bool running() const;
    // Waits at most `ms` for the thread to end; true when it has ended (and
    // has been joined). Safe to call repeatedly.
    bool join(std::uint32_t ms);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Tells the platform that the library is being unloaded. Threads that end
// from then on must not wait for anything the unloading thread may hold (on
// Windows, the loader lock), or joining them would never end. Unload calls it
// once, before it closes the ports.
void beginLibraryUnload();

// ---------------------------------------------------------------- serial device

// Line settings, modelled on what the library changes at activation; fields
// the library does not change keep what the system reported.
struct LineSettings {
    enum class Control : std::uint8_t { Disable, Enable, Handshake };
    std::uint32_t baudRate = 38400;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even
    std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool binary = true;
    Control dtr = Control::Enable;
    Control rts = Control::Enable;
    bool ctsFlow = false;  // output waits for CTS
    bool dsrFlow = false;
    bool dsrSensitivity = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool parityCheck = false;
    bool errorChar = false;
    bool nullStrip = false;
    bool abortOnError = false;
    bool txContinueOnXoff = false;
};

// Purge flags, combinable.
enum PurgeFlags : unsigned {
    kPurgeTxAbort = 1,  // end a pending write
    kPurgeRxAbort = 2,  // end a pending read (it reports Aborted)
    kPurgeTxClear = 4,  // drop output not yet sent
    kPurgeRxClear = 8,  // drop input not yet handed over to a reader
};

// Modem status bits.
enum ModemBits : std::uint32_t { kModemCts = 0x10 };

// Error codes carried through to the session's error word. They are the
// system's own codes; these are the ones the library interprets.
struct ErrorCodes {
    std::uint32_t aborted;          // a read ended by a purge
    std::uint32_t invalidFunction;  // a flush the device does not support
};
const ErrorCodes& errorCodes();

// Result of a read: `Ok` with the bytes, `Aborted` by a purge, or `Failed`
// with the system error in `error` (a hang-up counts as a failure).
struct ReadResult {
    enum Status : std::uint8_t { Ok, Aborted, Failed } status;
    std::uint32_t count;
    std::uint32_t error;
};

// Result of starting a write.
struct WriteStart {
    enum Status : std::int8_t { Failed = 0, Completed = 1, Pending = -1 } status;
    std::uint32_t count;  // bytes written when Completed
    std::uint32_t error;  // system error when Failed
};

// An open serial device. Used by one session: reads come from its receive
// thread only; writes, settings and waits for write completion come from
// threads that hold the port's command mutex, so at most one write is in
// flight. purge() may be called from any thread at any time, concurrently
// with a read in progress.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    virtual bool getLineSettings(LineSettings& out) = 0;
    // Applies the settings. The speed is any rate the driver accepts; read
    // it back with getLineSettings() to see what it took.
    virtual bool setLineSettings(const LineSettings& in) = 0;
    // All time-outs zero: a read completes only when its bytes have arrived.
    virtual bool setZeroTimeouts() = 0;
    // No event notifications.
    virtual bool clearEventMask() = 0;
    virtual bool setQueueSizes(std::uint32_t input, std::uint32_t output) = 0;
    // Ends and/or clears pending transfers (PurgeFlags). Callable from any
    // thread; an aborted read returns Aborted promptly.
    virtual bool purge(unsigned flags) = 0;
    // Reads and clears the device's error state into `errors` (0: none).
    virtual bool clearErrors(std::uint32_t& errors) = 0;
    // Modem lines (ModemBits). False on a device without modem lines.
    virtual bool modemStatus(std::uint32_t& bits) = 0;

    // Starts writing `count` bytes. Completed: all of them were taken at
    // once. Pending: the rest goes out in the background and writeDone()
    // becomes signalled when it has; finish with waitWrite(). Failed: nothing
    // is in flight. The bytes are copied; the caller's buffer may go away.
    virtual WriteStart startWrite(const std::uint8_t* bytes, std::uint32_t count) = 0;
    // Waits without limit for the pending write; true with the transferred
    // count, false when the write failed.
    virtual bool waitWrite(std::uint32_t& transferred) = 0;
    // Signalled when no write is in flight; reset by startWrite() when it
    // returns Pending. Pollable, so it can be handed to an application.
    virtual Event& writeDone() = 0;
    // Waits until the written bytes have left the driver's queue. False with
    // the system error when it fails (`errorCodes().invalidFunction`: the
    // device cannot flush).
    virtual bool flush(std::uint32_t& error) = 0;

    // Blocks until at least `min` bytes (min >= 1) are there, then hands over
    // between `min` and `max` bytes into `buf`. It completes as soon as `min`
    // bytes have arrived; it may hand over more that are already there. Ended
    // early by purge(kPurgeRxAbort) with Aborted (what was not handed over
    // stays for the next read unless kPurgeRxClear was given too). A hang-up
    // or device error gives Failed. Called from one thread only.
    virtual ReadResult read(std::uint8_t* buf, std::uint32_t min, std::uint32_t max) = 0;
};

// Opens a device by name for exclusive use (no other process or handle may
// open it while we hold it; released when the device is destroyed). Null
// when it does not exist, is busy or cannot be used as a serial line.
using DeviceOpener = std::unique_ptr<SerialDevice> (*)(const std::string& name);
std::unique_ptr<SerialDevice> openSystemDevice(const std::string& name);

// The default device name of a port number ("/dev/ttyS<N>", "\\.\COM<N>").
std::string defaultDeviceName(unsigned port);

// The seam for tests: the opener that activation uses. Null restores the
// system's. Set it only while no activation is running.
void setDeviceOpener(DeviceOpener opener);
std::unique_ptr<SerialDevice> openDevice(const std::string& name);

// ---------------------------------------------------------------- text

// Converts `text` as the C library's formatted input with "%f" does in the
// "C" locale, whatever locale the application has set. True when exactly one
// item was converted; `out` is left alone otherwise.
bool scanFloat(const char* text, float& out);

// ---------------------------------------------------------------- memory and version

// True when all `bytes` bytes from `p` on can be read, tested without touching
// them: unmapped or protected memory gives false instead of a fault.
bool isReadable(const void* p, std::size_t bytes);

// The library file's version as two words: (major << 16 | minor) and
// (build << 16 | revision). False when it cannot be read.
bool libraryFileVersion(std::uint32_t& high, std::uint32_t& low);

// ---------------------------------------------------------------- errors

// The calling thread's last system error (errno, GetLastError()). Right after
// openDevice() returned null it tells why.
std::uint32_t lastSystemError();
// The system's own short text for an error code, without a trailing newline.
std::string systemErrorText(std::uint32_t code);

}  // namespace nxtka::platform
