// Why the calling thread's last call on the library failed: one record per
// thread, written where a failure is decided and read by NXgetLastFailure.
// Every call on a port forgets the previous reason when it starts (the port
// guards and activation do that), so after a -1 the record belongs to it.
#pragma once

#include <cstdint>
#include <string>

namespace nxtka {

// The numbers of NXTKA_FAILURE_* in nxtka.h.
enum class Failure : std::int32_t {
    None = 0,
    PortRange = 1,
    NotActive = 2,
    Busy = 3,
    Argument = 4,
    Timeout = 5,
    Write = 6,
    Device = 7,
    AlreadyActive = 8,
    Aborted = 9,
    Answer = 10,
};

// Records `why` with its standard text, or with `detail` after it.
void recordFailure(Failure why, const char* detail = nullptr);
// Records a device failure with the system's text for `systemError`.
void recordDeviceFailure(const char* what, std::uint32_t systemError);
// Records a failure caused by what the amplifier answered (an answer the
// library cannot use): "<what>: the amplifier answered <answer>", the answer
// in decimal below 256, else in hexadecimal.
void recordAnswerFailure(const char* what, std::uint32_t answer);
void clearFailure();

// The record as it stands, to be put back after clean-up calls (which forget
// it as they start) have run.
struct SavedFailure {
    Failure why = Failure::None;
    std::string text;
};
SavedFailure saveFailure();
// Puts a saved record back, its text as it was.
void restoreFailure(const SavedFailure& saved);

Failure lastFailure();
// The recorded text (empty when none).
const char* lastFailureText();

// Keeps the calling thread's reason across a clean-up step of a call that
// has already failed, so that the step's own failure does not replace it.
class KeptFailure {
public:
    KeptFailure();
    ~KeptFailure();
    KeptFailure(const KeptFailure&) = delete;
    KeptFailure& operator=(const KeptFailure&) = delete;

private:
    SavedFailure saved_;
};

}  // namespace nxtka
