// Why a call failed: each cause, provoked on the virtual device, gives its
// stable number and its text to the thread that made the call.
#include "support/sim_port.h"

#include "core/command_table.h"
#include "core/word_bits.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace nxtka {
namespace {

using test::eventually;
using test::LineKind;
using test::SimPort;

constexpr unsigned kPort = 41;

sim::Config quiet() {
    sim::Config c;
    c.stream.rate = 0;
    c.reportUndefinedToStderr = false;
    return c;
}

struct Reason {
    int32_t code;
    std::string text;
};

Reason lastFailure() {
    char text[256] = {};
    const int32_t code = NXgetLastFailure(text, sizeof text);
    return {code, text};
}

void setLinkFaults(SimPort& sp, const std::function<void(platform::VirtualLink::Faults&)>& change) {
    auto f = sp.link()->faults();
    change(f);
    sp.link()->setFaults(f);
}

struct Cause {
    const char* name;
    // Makes the failing call on an active port and returns its result.
    std::function<int32_t(SimPort&)> fail;
    int32_t code;
    const char* text;
    // Undoes what the call left behind, after the reason was read.
    std::function<void(SimPort&)> cleanup = nullptr;
    // The amplifier's protocol level, where the cause needs another.
    int level = 3;
};

// The amplifier ignores one setting: it keeps what it had.
void ignoreSetting(SimPort& sp, int code) {
    sp.model().setHandler(code, [](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> { return std::nullopt; });
}

TEST(LastFailure, EachCauseGivesItsNumberAndText) {
    const unsigned char clearMax[] = {60};
    const Cause causes[] = {
        {"port above 1023", [](SimPort&) { return TKAgetMode(1024); }, NXTKA_FAILURE_PORT_RANGE,
         "port number out of range (0..1023)"},
        {"port never activated", [](SimPort&) { return TKAgetMode(kPort + 1); }, NXTKA_FAILURE_NOT_ACTIVE,
         "port not active"},
        {"gain outside 0..7", [](SimPort& sp) { return TKAsetGain(sp.port(), 8); }, NXTKA_FAILURE_ARGUMENT,
         "argument refused: 8 outside 0..7"},
        {"mode outside 0..255", [](SimPort& sp) { return TKAsetMode(sp.port(), -1); }, NXTKA_FAILURE_ARGUMENT,
         "argument refused: -1 outside 0..255"},
        {"no bytes", [](SimPort& sp) { return NXsendBytes(sp.port(), nullptr, 1); }, NXTKA_FAILURE_ARGUMENT,
         "argument refused: no bytes to send"},
        {"query not answered",
         [](SimPort& sp) {
             sp.model().setFaults(sim::Faults{}.silence(cmd::kGetMode));
             return TKAgetMode(sp.port());
         },
         NXTKA_FAILURE_TIMEOUT, "no answer from the amplifier within the time-out"},
        {"write refused by the device",
         [](SimPort& sp) {
             setLinkFaults(sp, [](auto& f) { f.writeError = EIO; });
             return TKAsetGain(sp.port(), 3);
         },
         NXTKA_FAILURE_WRITE, "write to the device failed: Input/output error"},
        {"read error while waiting",
         [](SimPort& sp) {
             sp.link()->injectReadError(EPROTO);
             int32_t r = 0;
             // The receive thread takes the error on its next read.
             eventually([&] { return (r = TKAgetMode(sp.port())) == -1; });
             return r;
         },
         NXTKA_FAILURE_DEVICE, "device failed while reading: Protocol error"},
        {"value read on a failed line",
         [](SimPort& sp) {
             sp.link()->injectReadError(EPROTO);
             double v = 0;
             int32_t r = 0;
             eventually([&] { return (r = TKAread(sp.port(), &v)) == -1; });
             return r;
         },
         NXTKA_FAILURE_DEVICE, "device failed while reading: Protocol error"},
        {"block read on a failed line",
         [](SimPort& sp) {
             sp.link()->injectReadError(EPROTO);
             double v[4];
             int32_t n = 0, r = 0;
             eventually([&] { return (r = TKAreadMultiple(sp.port(), v, 4, &n)) == -1; });
             return r;
         },
         NXTKA_FAILURE_DEVICE, "device failed while reading: Protocol error"},
        {"no room for values",
         [](SimPort& sp) {
             double v = 0;
             int32_t n = 0;
             return TKAreadMultiple(sp.port(), &v, 0, &n);
         },
         NXTKA_FAILURE_ARGUMENT, "argument refused: count below 1, or null pointer"},
        {"asynchronous write outstanding",
         [&](SimPort& sp) {
             setLinkFaults(sp, [](auto& f) { f.holdWrites = true; });
             NXTKA_EVENT done{};
             EXPECT_EQ(NXasynchronousSendBytes(sp.port(), clearMax, 1, &done), 1);
             return TKAgetMode(sp.port());
         },
         NXTKA_FAILURE_BUSY, "port busy: an asynchronous write is outstanding",
         [](SimPort& sp) {
             setLinkFaults(sp, [](auto& f) { f.holdWrites = false; });
             sp.link()->completePendingWrite();
             EXPECT_EQ(NXsynchronizeSendBytes(sp.port()), 0);
         }},
        {"synchronising without a write", [](SimPort& sp) { return NXsynchronizeSendBytes(sp.port()); },
         NXTKA_FAILURE_BUSY, "port busy: no asynchronous write is outstanding"},
        {"activated twice", [](SimPort& sp) { return sp.activate(); }, NXTKA_FAILURE_ALREADY_ACTIVE,
         "port already active or being activated"},
        {"device that does not exist",
         [](SimPort& sp) {
             TKArelease(sp.port());
             NXsetDeviceName(sp.port(), "/nonexistent/ttyNX0");
             return sp.activate();
         },
         NXTKA_FAILURE_DEVICE, "cannot open /nonexistent/ttyNX0: No such file or directory"},
        {"activation record unreadable", [](SimPort& sp) { return TKAactivateExtended(sp.port(), nullptr); },
         NXTKA_FAILURE_ARGUMENT, "argument refused: activation parameters unreadable or invalid"},
        {"CAN bit-rate index 0", [](SimPort& sp) { return TKAsetCanBaud(sp.port(), 0); }, NXTKA_FAILURE_ARGUMENT,
         "argument refused: CAN bit-rate index below 1"},
        {"drain not confirmed",
         [](SimPort& sp) {
             sp.model().setFaults(sim::Faults{}.silence(cmd::kMarker.code));
             return TKAflushBuffer(sp.port());
         },
         NXTKA_FAILURE_TIMEOUT,
         "no answer from the amplifier within the time-out: the marker that confirms the drained stream"},
        // A -1 caused by what the amplifier answered names the answer.
        {"line-speed index beyond the table",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kGetBaud, 12);  // the table holds indexes 0..11
             return TKAgetBaudRate(sp.port());
         },
         NXTKA_FAILURE_ANSWER, "no line speed for this index: the amplifier answered 12"},
        {"CAN bit-rate index 0 answered",
         [](SimPort& sp) {
             EXPECT_EQ(TKAsetCanSetting(sp.port(), 126, 0), 0);  // setting 126: the bit-rate index
             return TKAgetCanBaudRate(sp.port());
         },
         NXTKA_FAILURE_ANSWER, "no CAN bit rate for this index: the amplifier answered 0"},
        {"adaptive-filter mask beyond its range",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kGetAdaptFilterMask, 0xFE0000);  // below 0xFF0000
             double threshold = 0;
             return TKAgetAdaptFilterThreshold(sp.port(), &threshold);
         },
         NXTKA_FAILURE_ANSWER,
         "adaptive-filter mask outside 0xFF0000..0xFFFF00: the amplifier answered 0xFE0000"},
        {"calibration divisor 0",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kGetCal, 0);
             return static_cast<int32_t>(NXgetCal(sp.port()));
         },
         NXTKA_FAILURE_ANSWER, "no calibration factor for a divisor of 0: the amplifier answered 0"},
        {"frequency divisor 0 in the control word",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kGetControl, 0x001000);  // unipolar, divisor 0
             return static_cast<int32_t>(TKAgetFreq(sp.port()));
         },
         NXTKA_FAILURE_ANSWER,
         "no frequency for a divisor of 0 in the control word: the amplifier answered 0x1000",
         nullptr, 2},
        {"input range entry of status 0 and a negative value",
         [](SimPort& sp) {
             sp.model().setRangeEntry(0, 0, 0x008000C8);  // status 0, -2.00
             return static_cast<int32_t>(TKAgetRange(sp.port()));
         },
         NXTKA_FAILURE_ANSWER, "the amplifier answered: range table entry 0/0: status 0 with a negative range",
         nullptr, 5},
        {"sampling-factor exponent 31",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kReadSamplingRate, 0x1F0000);  // timer and exponent protocol, E = 31
             return TKAreadSamplingFactor(sp.port());
         },
         NXTKA_FAILURE_ANSWER, "the amplifier answered: sampling-factor exponent of 31 or more"},
        {"user interface not locked on re-identification",
         [](SimPort& sp) {
             sp.model().setHandler(cmd::kLockInterface,
                                   [](const sim::ReceivedCommand&) -> std::optional<std::uint64_t> { return 0; });
             return TKAinitialize(sp.port());
         },
         NXTKA_FAILURE_ANSWER, "the user interface was not locked: the amplifier answered 0"},
        {"display norm 0 on re-identification",
         [](SimPort& sp) {
             sp.model().setReg(cmd::kDispGetNorm, 0x800000);  // the sign bit alone
             return TKAinitialize(sp.port());
         },
         NXTKA_FAILURE_ANSWER, "display norm of 0: the amplifier answered 0x800000"},
        {"decimal point not taken",
         [](SimPort& sp) {
             ignoreSetting(sp, cmd::kDispSetDPoint.code);
             return TKADispSetDPoint(sp.port(), 3);
         },
         NXTKA_FAILURE_ANSWER,
         "decimal point read back differs from the one written: the amplifier answered 1"},
        {"display norm not taken",
         [](SimPort& sp) {
             ignoreSetting(sp, cmd::kDispSetNorm.code);
             return TKADispSetNorm(sp.port(), 0.5);
         },
         NXTKA_FAILURE_ANSWER, "the amplifier answered: display norm read back differs from the one written"},
    };
    for (const Cause& c : causes) {
        SCOPED_TRACE(c.name);
        sim::Config config = quiet();
        config.level = c.level;
        SimPort sp(kPort, LineKind::Virtual, config);
        ASSERT_EQ(sp.activate(), 0);
        EXPECT_EQ(lastFailure().code, NXTKA_FAILURE_NONE);
        EXPECT_EQ(c.fail(sp), -1);
        const Reason r = lastFailure();
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.text, c.text);
        if (c.cleanup) c.cleanup(sp);
    }
}

TEST(LastFailure, SuccessForgetsTheReasonAndOtherThreadsKeepTheirOwn) {
    SimPort sp(kPort, LineKind::Virtual, quiet());
    ASSERT_EQ(sp.activate(), 0);
    ASSERT_EQ(TKAsetGain(sp.port(), 9), -1);
    ASSERT_EQ(lastFailure().code, NXTKA_FAILURE_ARGUMENT);

    Reason other{-1, ""};
    std::thread([&] {
        other = lastFailure();
        EXPECT_EQ(TKAgetMode(2000), -1);
    }).join();
    EXPECT_EQ(other.code, NXTKA_FAILURE_NONE);
    EXPECT_EQ(other.text, "");
    EXPECT_EQ(lastFailure().code, NXTKA_FAILURE_ARGUMENT) << "the other thread's failure showed here";

    EXPECT_GE(TKAgetMode(sp.port()), 0);
    EXPECT_EQ(lastFailure().code, NXTKA_FAILURE_NONE);
    EXPECT_EQ(lastFailure().text, "");
}

TEST(LastFailure, TextIsCutToTheBufferAndAlwaysTerminated) {
    ASSERT_EQ(TKAgetMode(kPort + 2), -1);
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(NXgetLastFailure(text, 5), NXTKA_FAILURE_NOT_ACTIVE);
    EXPECT_STREQ(text, "port");
    EXPECT_EQ(text[5], 'x') << "wrote past the given size";
    EXPECT_EQ(NXgetLastFailure(text, 1), NXTKA_FAILURE_NOT_ACTIVE);
    EXPECT_STREQ(text, "");
    text[0] = 'y';
    EXPECT_EQ(NXgetLastFailure(text, 0), NXTKA_FAILURE_NOT_ACTIVE);
    EXPECT_EQ(text[0], 'y');
    EXPECT_EQ(NXgetLastFailure(nullptr, 100), NXTKA_FAILURE_NOT_ACTIVE);
}

}  // namespace
}  // namespace nxtka
