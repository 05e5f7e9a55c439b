#include "core/last_failure.h"

#include "nxtka.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace nxtka {
namespace {

constexpr std::size_t kTextBytes = 200;

static_assert(static_cast<int>(Failure::PortRange) == NXTKA_FAILURE_PORT_RANGE);
static_assert(static_cast<int>(Failure::NotActive) == NXTKA_FAILURE_NOT_ACTIVE);
static_assert(static_cast<int>(Failure::Busy) == NXTKA_FAILURE_BUSY);
static_assert(static_cast<int>(Failure::Argument) == NXTKA_FAILURE_ARGUMENT);
static_assert(static_cast<int>(Failure::Timeout) == NXTKA_FAILURE_TIMEOUT);
static_assert(static_cast<int>(Failure::Write) == NXTKA_FAILURE_WRITE);
static_assert(static_cast<int>(Failure::Device) == NXTKA_FAILURE_DEVICE);
static_assert(static_cast<int>(Failure::AlreadyActive) == NXTKA_FAILURE_ALREADY_ACTIVE);
static_assert(static_cast<int>(Failure::Aborted) == NXTKA_FAILURE_ABORTED);
static_assert(static_cast<int>(Failure::Answer) == NXTKA_FAILURE_ANSWER);

struct Record {
    Failure why = Failure::None;
    char text[kTextBytes] = {};
};

thread_local Record tRecord;

const char* standardText(Failure why) {
    switch (why) {
    case Failure::None: return "";
    case Failure::PortRange: return "port number out of range (0..1023)";
    case Failure::NotActive: return "port not active";
    case Failure::Busy: return "port busy";
    case Failure::Argument: return "argument refused";
    case Failure::Timeout: return "no answer from the amplifier within the time-out";
    case Failure::Write: return "write to the device failed";
    case Failure::Device: return "device failed";
    case Failure::AlreadyActive: return "port already active or being activated";
    case Failure::Aborted: return "activation aborted";
    case Failure::Answer: return "the amplifier answered";
    }
    return "";
}

}  // namespace

void recordFailure(Failure why, const char* detail) {
    tRecord.why = why;
    if (detail == nullptr || *detail == '\0') {
        std::snprintf(tRecord.text, kTextBytes, "%s", standardText(why));
    } else {
        std::snprintf(tRecord.text, kTextBytes, "%s: %s", standardText(why), detail);
    }
}

void recordDeviceFailure(const char* what, std::uint32_t systemError) {
    const std::string system = systemError != 0 ? platform::systemErrorText(systemError) : std::string();
    tRecord.why = Failure::Device;
    if (system.empty()) {
        std::snprintf(tRecord.text, kTextBytes, "%s", what);
    } else {
        std::snprintf(tRecord.text, kTextBytes, "%s: %s", what, system.c_str());
    }
}

void recordAnswerFailure(const char* what, std::uint32_t answer) {
    tRecord.why = Failure::Answer;
    const char* format = answer < 256 ? "%s: the amplifier answered %u" : "%s: the amplifier answered 0x%X";
    std::snprintf(tRecord.text, kTextBytes, format, what, answer);
}

void clearFailure() {
    tRecord.why = Failure::None;
    tRecord.text[0] = '\0';
}

SavedFailure saveFailure() { return {tRecord.why, tRecord.text}; }

void restoreFailure(const SavedFailure& saved) {
    tRecord.why = saved.why;
    std::snprintf(tRecord.text, kTextBytes, "%s", saved.text.c_str());
}

Failure lastFailure() { return tRecord.why; }
const char* lastFailureText() { return tRecord.text; }

KeptFailure::KeptFailure() : saved_(saveFailure()) {}
KeptFailure::~KeptFailure() { restoreFailure(saved_); }

}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL NXgetLastFailure(char* text, int32_t size) {
    if (text != nullptr && size > 0) {
        const std::size_t room = static_cast<std::size_t>(size) - 1;
        const std::size_t n = std::min(std::strlen(tRecord.text), room);
        std::memcpy(text, tRecord.text, n);
        text[n] = '\0';
    }
    return static_cast<int32_t>(tRecord.why);
}

}  // extern "C"
