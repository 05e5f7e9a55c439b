// Faults on the line, end to end through a pseudo-terminal: floods of bytes
// that are no frame, a text frame that never ends, a hang-up while a command
// waits, an amplifier that stops answering and comes back, a burst that
// overflows the ring.
//
// Value frames are written by hand here: "," status b2 b1 b0. On the
// amplifier's default bipolar input the raw value 0x800000 + i reads as
// i x 1.05 / 2^23; 0xC00000 reads as 0.525.
#include "support/proc_counts.h"
#include "support/sim_port.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace nxtka {
namespace {

using test::countEntries;
using test::eventually;
using test::LineKind;
using test::SimPort;

constexpr unsigned kPort = 21;
constexpr double kStep = 1.2516975402832032e-7;  // 1.05 / 2^23, bipolar 24-bit
constexpr std::uint16_t kFirmware = 0x0C10;       // the simulated amplifier's default

std::vector<std::uint8_t> frame24(std::uint8_t status, std::uint32_t raw) {
    return {',', status, static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 8),
            static_cast<std::uint8_t>(raw)};
}

// Writes `bytes` as the amplifier, at full speed, in pieces the
// pseudo-terminal takes while the library reads.
void flood(sim::AmplifierModel& m, const std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t kPiece = 1024;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + kPiece));
        m.injectGarbage(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at), end));
    }
}

struct Values {
    std::vector<double> values;
    std::vector<unsigned char> statuses;
};

// Everything in the ring, oldest first.
Values drain(unsigned port) {
    Values out;
    std::vector<double> v(4096);
    std::vector<unsigned char> s(4096);
    std::int32_t got = 0;
    while (TKAreadStatusMultiple(port, v.data(), s.data(), 4096, &got) == 1) {
        out.values.insert(out.values.end(), v.begin(), v.begin() + got);
        out.statuses.insert(out.statuses.end(), s.begin(), s.begin() + got);
    }
    return out;
}

// Ends whatever frame a flood left open (a line feed ends a text frame, eight
// bytes any binary one), then waits for a marker value behind it and empties
// the ring. (A round trip would not do: a flood may hold something that looks
// like the answer.)
void resynchronise(SimPort& sp) {
    std::vector<std::uint8_t> tail(8, 0x0A);
    const auto marker = frame24(0xEE, 0x812345);
    tail.insert(tail.end(), marker.begin(), marker.end());
    sp.model().injectGarbage(tail);
    bool seen = false;
    ASSERT_TRUE(eventually([&] {
        const Values v = drain(sp.port());
        for (std::size_t i = 0; i < v.values.size(); ++i) {
            seen = seen || (v.statuses[i] == 0xEE && v.values[i] == 0x12345 * kStep);
        }
        return seen;
    }, 30000));
}

// Twenty frames of 0.525 with status 5 must come through exactly, and a
// command must get its answer.
void expectValuesResume(SimPort& sp) {
    std::vector<std::uint8_t> frames;
    for (int i = 0; i < 20; ++i) {
        const auto f = frame24(5, 0xC00000);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    sp.model().injectGarbage(frames);
    ASSERT_TRUE(test::roundTrip(sp.port()));
    const Values got = drain(sp.port());
    ASSERT_EQ(got.values.size(), 20u);
    for (std::size_t i = 0; i < got.values.size(); ++i) {
        EXPECT_EQ(got.values[i], 0.525) << "value " << i;
        EXPECT_EQ(got.statuses[i], 5) << "value " << i;
    }
    EXPECT_EQ(TKAfirmwareVersion(sp.port()), kFirmware);
}

sim::Config quietAmplifier() {
    sim::Config c;
    c.stream.rate = 0;
    c.stream.level = 0.525;
    return c;
}

class LineFaults : public ::testing::Test {
protected:
    void SetUp() override { setSettleAfterOpenMs(0); }
    void TearDown() override { setSettleAfterOpenMs(250); }
};

// ---- floods

struct FloodRow {
    const char* name;
    std::function<std::vector<std::uint8_t>()> bytes;
};
void PrintTo(const FloodRow& r, std::ostream* os) { *os << r.name; }

std::vector<std::uint8_t> repeated(const std::string& head, std::uint8_t fill, std::size_t n) {
    std::vector<std::uint8_t> v(head.begin(), head.end());
    v.insert(v.end(), n, fill);
    return v;
}

const FloodRow kFloods[] = {
    // Bytes that start no frame: each is skipped, none becomes a value.
    {"UnknownBytes",
     [] {
         const std::string starts = ",&+-;$";
         std::vector<std::uint8_t> v;
         for (std::size_t i = 0; v.size() < (1u << 20); ++i) {
             const auto b = static_cast<std::uint8_t>(i);
             if (b != 0xA5 && starts.find(static_cast<char>(b)) == std::string::npos) v.push_back(b);
         }
         return v;
     }},
    // Any byte at all: spurious values may come, the parser must not stick.
    {"RandomBytes",
     [] {
         std::mt19937 rng(15);
         std::vector<std::uint8_t> v(1u << 20);
         for (auto& b : v) b = static_cast<std::uint8_t>(rng());
         return v;
     }},
    // Text frames that never end: longer than the 32768-byte receive buffer.
    {"DigitsAfterASign", [] { return repeated("+", '1', 100000); }},
    {"SpacesAfterASign", [] { return repeated("-", ' ', 100000); }},
    {"SignsOnly", [] { return repeated("", '+', 36000); }},
    // An amplifier that ends its text frames with a carriage return alone.
    {"TextWithoutLineFeeds",
     [] {
         const std::string frame = "+    0.2500\r";
         std::vector<std::uint8_t> v;
         while (v.size() < 40000) v.insert(v.end(), frame.begin(), frame.end());
         return v;
     }},
};

class Floods : public LineFaults, public ::testing::WithParamInterface<FloodRow> {};

TEST_P(Floods, ValuesAndAnswersResumeAfterwards) {
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(64), 0);
    flood(sp.model(), GetParam().bytes());
    resynchronise(sp);
    expectValuesResume(sp);
}

INSTANTIATE_TEST_SUITE_P(Faults, Floods, ::testing::ValuesIn(kFloods),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- a hang-up while a command waits for its answer

struct WaitingCall {
    const char* name;
    std::function<std::int32_t(unsigned)> call;
    std::uint32_t timeoutMs;  // how long it would wait for the amplifier
    int waitsAfter;           // the code whose arrival shows that it waits
    std::function<void(sim::AmplifierModel&)> quieten;
};
void PrintTo(const WaitingCall& r, std::ostream* os) { *os << r.name; }

void asleep(sim::AmplifierModel& m) { m.setAsleep(true); }  // commands arrive, nothing comes back

const WaitingCall kWaitingCalls[] = {
    {"FirmwareVersion", [](unsigned p) { return TKAfirmwareVersion(p); }, 1000, cmd::kGetFirmware, asleep},
    {"SerialNumber",
     [](unsigned p) {
         char text[16];
         return TKAgetSerialNo(p, text);
     },
     1000, cmd::kGetSerialNo, asleep},
    {"FlushBuffer", [](unsigned p) { return TKAflushBuffer(p); }, 1100, cmd::kMarker, asleep},
    // The marker after the procedure stays unanswered (5000 ms plus 100).
    {"Adjustment", [](unsigned p) { return TKAsetZero(p); }, 5100, cmd::kMarker, asleep},
    // The marker is answered; the amplifier stays busy and never sends the
    // value asked for (5000 ms).
    {"AdjustmentComingBack", [](unsigned p) { return TKAsetZero(p); }, 5000, cmd::kSingleValue,
     [](sim::AmplifierModel& m) {
         sim::Adjustment a;
         a.quietMs = 60000;
         m.setAdjustment(a);
     }},
};

struct CallOutcome {
    std::int32_t result = 0;
    std::uint32_t tookMs = 0;
    int failure = 0;
    std::string reason;
};

class HangUp : public LineFaults, public ::testing::WithParamInterface<WaitingCall> {};

TEST_P(HangUp, WaitingCommandFailsAtOnceAndReleaseCompletes) {
    const WaitingCall& row = GetParam();
    const int fds = countEntries("/proc/self/fd");
    const int threads = test::settledThreadCount();
    {
        SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
        ASSERT_EQ(sp.activate(64), 0);
        const NXTKA_EVENT event = NXrequestEvent(kPort);
        ASSERT_GT(event, 0);

        row.quieten(sp.model());
        const std::size_t before = sp.model().commandCount(row.waitsAfter);
        auto outcome = std::async(std::launch::async, [&row] {
            CallOutcome o;
            const std::uint32_t start = platform::tickCount();
            o.result = row.call(kPort);
            o.tookMs = test::since(start);
            char text[200] = {};
            o.failure = NXgetLastFailure(text, sizeof text);
            o.reason = text;
            return o;
        });
        ASSERT_TRUE(sp.model().waitForCommand(row.waitsAfter, std::chrono::seconds(5), before + 1));
        platform::sleepMs(100);  // past the drain of its write, into its wait
        sp.model().hangUp();
        ASSERT_EQ(outcome.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const CallOutcome o = outcome.get();
        EXPECT_EQ(o.result, -1);
        // Woken by the failed read, not by the end of its wait. (Should the
        // write still be draining, it is the write that fails.)
        EXPECT_LT(o.tookMs, row.timeoutMs);
        const std::string system = std::strerror(EIO);
        if (o.failure == NXTKA_FAILURE_WRITE) {
            EXPECT_EQ(o.reason, "write to the device failed: " + system);
        } else {
            EXPECT_EQ(o.failure, NXTKA_FAILURE_DEVICE);
            EXPECT_EQ(o.reason, "device failed while reading: " + system);
        }

        // The data event wakes a waiter once: the read that reports the
        // failure resets it, so a wait on several ports does not spin on this one.
        pollfd p{event, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 1000), 1);
        double v = 42;
        EXPECT_EQ(TKAread(kPort, &v), -1);
        EXPECT_EQ(v, 42);
        EXPECT_EQ(::poll(&p, 1, 0), 0);
        EXPECT_EQ(TKAread(kPort, &v), -1);
        EXPECT_EQ(::poll(&p, 1, 0), 0);
        EXPECT_EQ(TKAfirmwareVersion(kPort), -1);

        EXPECT_EQ(test::onOtherThread("release after a hang-up", 5000, [] {
                      TKArelease(kPort);
                      return 0;
                  }),
                  0);
        EXPECT_EQ(TKAmodel(kPort), -1);
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") == threads; }, 2000));
}

INSTANTIATE_TEST_SUITE_P(Faults, HangUp, ::testing::ValuesIn(kWaitingCalls),
                         [](const auto& p) { return std::string(p.param.name); });

// Values received before a hang-up are still delivered; then reads fail.
TEST_F(LineFaults, ValuesBeforeAHangUpAreStillDelivered) {
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(64), 0);
    const NXTKA_EVENT event = NXrequestEvent(kPort);
    ASSERT_GT(event, 0);
    std::vector<std::uint8_t> frames;
    for (std::uint32_t i = 1; i <= 3; ++i) {
        const auto f = frame24(static_cast<std::uint8_t>(i), 0x800000 + i);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    sp.model().injectGarbage(frames);
    ASSERT_TRUE(test::roundTrip(kPort));
    sp.model().hangUp();
    ASSERT_TRUE(eventually([] { return TKAfirmwareVersion(kPort) == -1; }));
    for (std::uint32_t i = 1; i <= 3; ++i) {
        double v = 0;
        unsigned char s = 0;
        ASSERT_EQ(TKAreadStatus(kPort, &v, &s), 1) << "value " << i;
        EXPECT_EQ(v, i * kStep);
        EXPECT_EQ(s, i);
    }
    // The values are gone, the failure is not yet told: a waiter still wakes,
    // and the read that says -1 resets the event.
    pollfd p{event, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 1000), 1);
    double v = 42;
    EXPECT_EQ(TKAread(kPort, &v), -1);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

// ---- an amplifier that stops answering and comes back (real 1000 ms time-outs)

TEST_F(LineFaults, SilentAmplifierComesBack) {
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(64), 0);
    sp.model().setAsleep(true);
    EXPECT_EQ(TKAfirmwareVersion(kPort), -1);
    EXPECT_EQ(TKAgetValue(kPort), 0);  // sent; no value will come
    sp.model().setAsleep(false);

    EXPECT_EQ(TKAfirmwareVersion(kPort), kFirmware);
    drain(kPort);
    test::requestValues(sp, 1);
    double v = 0;
    ASSERT_EQ(TKAread(kPort, &v), 1);
    EXPECT_EQ(v, 0.525);
}

// An answer that comes after its caller gave up is not taken by the next one.
TEST_F(LineFaults, LateAnswerIsNotTakenByTheNextCommand) {
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(64), 0);
    sim::Faults f;
    f.delay(cmd::kGetFirmware, 1500);
    sp.model().setFaults(f);
    const std::uint64_t sent = sp.model().bytesSent();
    EXPECT_EQ(TKAfirmwareVersion(kPort), -1);
    // The late answer (0x0C10) goes out, and a value behind it shows when
    // the library has read it; then the amplifier answers at once with a new
    // number.
    ASSERT_TRUE(eventually([&] { return sp.model().bytesSent() >= sent + 3; }, 3000));
    sp.model().injectGarbage(frame24(0, 0xC00000));
    ASSERT_TRUE(eventually([] { return TKAreceived(kPort) == 1; }));
    sp.model().setFaults(sim::Faults{});
    sp.model().setReg(cmd::kGetFirmware, 0x0D20);
    EXPECT_EQ(TKAfirmwareVersion(kPort), 0x0D20);
}

// ---- answers that come just after the 1000 ms time-out (real time-outs)

class LateAnswer : public LineFaults, public ::testing::WithParamInterface<std::uint32_t> {};

// The mode answer, 65, comes while the next query already waits; each query
// still gets its own answer, and the line does not shift.
TEST_P(LateAnswer, NextQueriesGetTheirOwnAnswers) {
    sim::Config c = quietAmplifier();
    c.mode = 65;
    c.equipment = 21;
    SimPort sp(kPort, LineKind::Pty, c, 0);
    ASSERT_EQ(sp.activate(64), 0);
    sim::Faults f;
    f.delay(cmd::kGetMode, GetParam());
    sp.model().setFaults(f);
    EXPECT_EQ(TKAgetMode(kPort), -1);
    EXPECT_EQ(TKAgetEquipment(kPort), 21);
    EXPECT_EQ(TKAfirmwareVersion(kPort), kFirmware);
    EXPECT_EQ(TKAgetEquipment(kPort), 21);
}

// A late 3-byte answer with bit 12 set, taken as the control word, would
// switch the conversion to unipolar: 0xC00000 would read 0.7875 instead of
// 0.525.
TEST_P(LateAnswer, NeverReachesThePolarity) {
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(64), 0);
    sp.model().setReg(cmd::kGetScale, 0x801000);
    sim::Faults f;
    f.delay(cmd::kGetScale, GetParam());
    sp.model().setFaults(f);
    EXPECT_EQ(TKAgetScale(kPort), -1);
    EXPECT_EQ(TKAgetControl(kPort), 0x28);
    sp.model().injectGarbage(frame24(0, 0xC00000));
    ASSERT_TRUE(eventually([] { return TKAreceived(kPort) == 1; }));
    double v = 0;
    ASSERT_EQ(TKAread(kPort, &v), 1);
    EXPECT_EQ(v, 0.525);
}

INSTANTIATE_TEST_SUITE_P(Faults, LateAnswer, ::testing::Values(1050u, 1200u),
                         [](const auto& p) { return std::to_string(p.param) + "ms"; });

// ---- a stray sign: a ',' with one bit flipped on the line opens a text frame

// Values stream at 200/s at 38400 bit/s; a stray '-' lands between two
// frames (the stream holds no line feed). The next command gets its answer,
// and every value sent arrives, each exactly as sent.
TEST_F(LineFaults, StraySignInTheStreamStallsNeitherAnswersNorValues) {
    sim::Config c = quietAmplifier();
    c.stream.rate = 200;
    c.stream.transmitting = false;
    SimPort sp(kPort, LineKind::Pty, c, 38400);
    ASSERT_EQ(sp.activate(1000), 0);
    drain(kPort);
    std::vector<double> got;
    const auto collected = [&] {
        const Values v = drain(kPort);
        got.insert(got.end(), v.values.begin(), v.values.end());
        return got.size();
    };
    const std::uint64_t before = sp.model().framesSent();
    sp.model().setTransmitting(true);
    ASSERT_TRUE(eventually([&] { return collected() >= 10; }));

    sp.model().injectGarbage({'-'});
    EXPECT_EQ(TKAfirmwareVersion(kPort), kFirmware);
    const std::size_t atAnswer = collected();
    EXPECT_TRUE(eventually([&] { return collected() >= atAnswer + 20; }));

    sp.model().setTransmitting(false);
    ASSERT_TRUE(test::roundTrip(kPort));
    collected();
    EXPECT_EQ(got.size(), sp.model().framesSent() - before);
    EXPECT_EQ(std::count(got.begin(), got.end(), 0.525), static_cast<std::ptrdiff_t>(got.size()));
}

// A quiet line: a stray '-', then the answer to a getter, then silence. The
// answer is not left inside the open text frame; every getter succeeds,
// whatever the length of its answer.
TEST_F(LineFaults, StraySignBeforeAnAnswerOnAQuietLine) {
    sim::Config c = quietAmplifier();
    c.displayUnit = 7;
    SimPort sp(kPort, LineKind::Pty, c, 38400);
    ASSERT_EQ(sp.activate(64), 0);
    sp.model().setReg(cmd::kGetScale, 0x800000);
    const struct {
        const char* name;
        std::function<std::int32_t()> get;
        std::int32_t expected;
    } rows[] = {
        {"1 answer byte", [] { return TKADispGetUnit(kPort); }, 7},
        {"2 answer bytes", [] { return TKAfirmwareVersion(kPort); }, kFirmware},
        {"3 answer bytes", [] { return TKAgetScale(kPort); }, 8388608},
        {"8 answer bytes",
         [] {
             char text[9] = {};
             return TKAgetSerialNo(kPort, text) == 0 && std::string(text) == "12345678" ? 1 : 0;
         },
         1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        sp.model().injectGarbage({'-'});
        EXPECT_EQ(r.get(), r.expected);
    }
    // A value asked for behind a stray sign comes with the next answer.
    sp.model().injectGarbage({'+'});
    ASSERT_EQ(TKAgetValue(kPort), 0);
    EXPECT_EQ(TKAfirmwareVersion(kPort), kFirmware);
    double v = 0;
    ASSERT_EQ(TKAread(kPort, &v), 1);
    EXPECT_EQ(v, 0.525);
}

// ---- a burst that overflows the ring keeps exactly the newest values

struct BurstRow {
    std::int32_t capacity;
    std::uint32_t burst;
};
void PrintTo(const BurstRow& r, std::ostream* os) { *os << r.capacity << " of " << r.burst; }

class RingOverflow : public LineFaults, public ::testing::WithParamInterface<BurstRow> {};

TEST_P(RingOverflow, KeepsExactlyTheNewest) {
    const BurstRow row = GetParam();
    SimPort sp(kPort, LineKind::Pty, quietAmplifier(), 0);
    ASSERT_EQ(sp.activate(row.capacity), 0);
    std::vector<std::uint8_t> burst;
    for (std::uint32_t i = 0; i < row.burst; ++i) {
        const auto f = frame24(static_cast<std::uint8_t>(i), 0x800000 + i);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    flood(sp.model(), burst);
    ASSERT_TRUE(test::roundTrip(kPort));
    const Values got = drain(kPort);
    const std::uint32_t kept = std::min<std::uint32_t>(static_cast<std::uint32_t>(row.capacity), row.burst);
    ASSERT_EQ(got.values.size(), kept);
    const std::uint32_t first = row.burst - kept;
    for (std::uint32_t k = 0; k < kept; ++k) {
        EXPECT_EQ(got.values[k], (first + k) * kStep) << "value " << k;
        EXPECT_EQ(got.statuses[k], static_cast<std::uint8_t>(first + k)) << "value " << k;
    }
    EXPECT_EQ(TKAreceived(kPort), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, RingOverflow,
                         ::testing::Values(BurstRow{1, 300}, BurstRow{8, 1000}, BurstRow{300, 300}, BurstRow{300, 301},
                                           BurstRow{1000, 20000}),
                         [](const auto& p) {
                             return std::to_string(p.param.capacity) + "of" + std::to_string(p.param.burst);
                         });

}  // namespace
}  // namespace nxtka
