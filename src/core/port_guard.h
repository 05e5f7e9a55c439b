// The opening of every exported function that works on an active port.
//
//   command guard  the port's command mutex; session present and ready
//   both guard     command and ring mutex in one wait-for-both
//   ring guard     the ring mutex only; session present (link state not tested)
//   async guard    the command mutex; an asynchronous write outstanding
//
// Each guard releases what it took when it goes out of scope. Failure of the
// guard (port above 1023, port not active, port busy) leaves ok() false.
#pragma once

#include "core/port_table.h"

namespace nxtka {

enum class GuardKind { Command, Async };

class CommandGuard {
public:
    explicit CommandGuard(unsigned port, GuardKind kind = GuardKind::Command);
    ~CommandGuard();
    CommandGuard(const CommandGuard&) = delete;
    CommandGuard& operator=(const CommandGuard&) = delete;

    bool ok() const { return session_ != nullptr; }
    PortSession& session() const { return *session_; }
    // Keeps the mutex owned past this guard (an asynchronous write).
    void keepLocked() { keep_ = true; }

private:
    platform::Mutex* mutex_ = nullptr;
    PortSession* session_ = nullptr;
    bool keep_ = false;
};

class BothGuard {
public:
    explicit BothGuard(unsigned port);
    ~BothGuard();
    BothGuard(const BothGuard&) = delete;
    BothGuard& operator=(const BothGuard&) = delete;

    bool ok() const { return session_ != nullptr; }
    PortSession& session() const { return *session_; }
    // The ring mutex was released by the work itself (input purge).
    void ringReleased() { ring_ = nullptr; }

private:
    platform::Mutex* api_ = nullptr;
    platform::Mutex* ring_ = nullptr;
    PortSession* session_ = nullptr;
};

class RingGuard {
public:
    explicit RingGuard(unsigned port);
    ~RingGuard();
    RingGuard(const RingGuard&) = delete;
    RingGuard& operator=(const RingGuard&) = delete;

    bool ok() const { return session_ != nullptr; }
    PortSession& session() const { return *session_; }
    // Releases the ring mutex early; the session must not be touched after.
    void release();

private:
    platform::Mutex* mutex_ = nullptr;
    PortSession* session_ = nullptr;
};

}  // namespace nxtka
