// Measured values from the simulated amplifier to the application: exact
// conversion of every frame kind, the reading functions, errors, the ring's
// overflow and the pollable data event.
#include "core/command_exchange.h"
#include "core/port_table.h"
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <iterator>
#include <string>
#include <vector>

namespace nxtka {
namespace {

using sim::AmplifierModel;
using sim::FrameKind;
using test::eventually;
using test::LineKind;
using test::roundTrip;
using test::SimPort;
using test::requestValues;

constexpr std::uint32_t kBipolarControl = 0x000028;   // bit 12 clear
constexpr std::uint32_t kUnipolarControl = 0x001028;  // bit 12 set
constexpr double kSentinel = -12345.0;
constexpr unsigned char kStatusSentinel = 0xEE;


struct Read {
    std::vector<double> values;
    std::vector<unsigned char> statuses;
};

// Everything waiting, in one call.
Read readAll(unsigned port) {
    Read r;
    r.values.assign(256, kSentinel);
    r.statuses.assign(256, kStatusSentinel);
    std::int32_t n = -7;
    const int res = TKAreadStatusMultiple(port, r.values.data(), r.statuses.data(), 256, &n);
    EXPECT_GE(res, 0);
    if (res <= 0) n = 0;
    r.values.resize(static_cast<std::size_t>(n));
    r.statuses.resize(static_cast<std::size_t>(n));
    return r;
}

// The value the library must report for the raw code the amplifier sent.
double expectedBinary(FrameKind kind, double level, bool bipolar) {
    if (kind == FrameKind::Binary24) {
        const std::uint32_t raw = AmplifierModel::rawCode24(level, bipolar);
        return bipolar ? static_cast<double>(static_cast<std::int32_t>(raw) - 8388608) * 1.2516975402832032e-7
                       : static_cast<double>(raw) * 6.258487701416016e-8;
    }
    const std::uint16_t raw = AmplifierModel::rawCode16(level, bipolar);
    return bipolar ? static_cast<double>(static_cast<std::int32_t>(raw) - 32768) * 3.204345703125e-5
                   : static_cast<double>(raw) * 1.6021728515625e-5;
}

sim::Config streamConfig(std::uint32_t control) {
    sim::Config c;
    c.control = control;
    c.stream.rate = 0;  // values only on request
    return c;
}

class Values : public ::testing::TestWithParam<LineKind> {};

TEST_P(Values, BinaryFramesConvertExactlyWithTheirStatus) {
    struct KindCase {
        FrameKind kind;
        std::uint8_t status;  // what the amplifier is told to send
        unsigned char read;   // what the application must see
    };
    const KindCase kinds[] = {
        {FrameKind::Binary24, 0xC7, 0xC7},  // all eight status bits
        {FrameKind::Status16, 0x13, 0x13},  // '&' carries 101sssss; the low five bits arrive
        {FrameKind::Binary16, 0x5A, 0x00},  // no status byte on the wire
    };
    for (const bool bipolar : {true, false}) {
        SCOPED_TRACE(bipolar ? "bipolar" : "unipolar");
        SimPort sp(101, GetParam(), streamConfig(bipolar ? kBipolarControl : kUnipolarControl));
        ASSERT_EQ(sp.activate(), 0);
        const std::vector<double> levels = bipolar
            ? std::vector<double>{0.0, 0.5, -0.5, -0.3333, 1e-6, 1.0499999, -1.05, 2.0, -2.0}
            : std::vector<double>{0.0, 0.25, 0.525, 0.7777, 1e-6, 1.0499999, 2.0, -1.0};
        for (const KindCase& k : kinds) {
            SCOPED_TRACE(sim::frameKindName(k.kind));
            for (const double level : levels) {
                sim::StreamSettings st = sp.model().stream();
                st.kind = k.kind;
                st.status = k.status;
                st.level = level;
                sp.model().setStream(st);
                requestValues(sp, 1);
                const Read r = readAll(101);
                ASSERT_EQ(r.values.size(), 1u) << level;
                EXPECT_EQ(r.values[0], expectedBinary(k.kind, level, bipolar)) << level;
                EXPECT_EQ(r.statuses[0], k.read) << level;
            }
        }
    }
}

TEST_P(Values, EndsAndMiddleOfTheScale) {
    {
        SimPort sp(102, GetParam(), streamConfig(kBipolarControl));
        ASSERT_EQ(sp.activate(), 0);
        for (const double level : {0.0, -2.0}) {
            sim::StreamSettings st = sp.model().stream();
            st.level = level;
            sp.model().setStream(st);
            requestValues(sp, 1);
        }
        const Read r = readAll(102);
        ASSERT_EQ(r.values.size(), 2u);
        EXPECT_EQ(r.values[0], 0.0);     // middle code 0x800000
        EXPECT_EQ(r.values[1], -1.05);   // code 0
    }
    {
        SimPort sp(102, GetParam(), streamConfig(kUnipolarControl));
        ASSERT_EQ(sp.activate(), 0);
        for (const double level : {2.0, 0.525}) {
            sim::StreamSettings st = sp.model().stream();
            st.kind = FrameKind::Binary16;
            st.level = level;
            sp.model().setStream(st);
            requestValues(sp, 1);
        }
        const Read r = readAll(102);
        ASSERT_EQ(r.values.size(), 2u);
        EXPECT_EQ(r.values[0], 65535 * 1.6021728515625e-5);  // top code: just under 1.05
        EXPECT_LT(r.values[0], 1.05);
        EXPECT_EQ(r.values[1], 0.525);                       // code 0x8000
    }
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Text frames carry the amplifier's display value; the library divides it by
// 10^(decimal point - 1) x norm / 5250020, the norm without its bit 23.
TEST_P(Values, TextFramesAreDividedByTheDisplayNorm) {
    struct NormCase {
        std::uint8_t decimalPoint;
        std::uint32_t norm;  // as the amplifier answers it
        double divisor;      // worked out by hand
    };
    const NormCase norms[] = {
        {1, 5250020, 1.0},
        {2, 2625010, 5.0},                    // 10 x 2625010 / 5250020
        {4, 0x800000 | 5250020, 1000.0},      // bit 23 is a flag, not part of the norm
        {0, 5250020, 0.1},                    // 10^-1
        {3, 4000000, 76.19018594214879},      // 100 x 4000000 / 5250020, rounded once
    };
    struct TextFrame {
        const char* text;
        float value;  // what "%f" makes of it
    };
    const TextFrame frames[] = {
        {"+   12.5\r\n", 12.5f},
        {"-  0.0625\r\n", -0.0625f},
        {"+ 38.095\r\n", 38.095001220703125f},
        {"+      0\r\n", 0.0f},
        {"-1234.5678\n", -1234.5677490234375f},
    };
    for (const NormCase& n : norms) {
        SCOPED_TRACE("decimal point " + std::to_string(n.decimalPoint) + ", norm " + std::to_string(n.norm));
        sim::Config c = streamConfig(kBipolarControl);
        c.displayDecimalPoint = n.decimalPoint;
        c.displayNorm = n.norm;
        SimPort sp(103, GetParam(), c);
        ASSERT_EQ(sp.activate(), 0);
        for (const TextFrame& f : frames) sp.model().injectGarbage(bytesOf(f.text));
        ASSERT_TRUE(roundTrip(103));
        const Read r = readAll(103);
        ASSERT_EQ(r.values.size(), std::size(frames));
        for (std::size_t i = 0; i < std::size(frames); ++i) {
            EXPECT_EQ(r.values[i], static_cast<double>(frames[i].value) / n.divisor) << frames[i].text;
            EXPECT_EQ(r.statuses[i], 0) << frames[i].text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, Values, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

// A level-4 amplifier with the norm's sign bit set, activated with the
// display flag, reports its text values with the sign inverted in bipolar
// mode; unipolar inputs are never inverted.
TEST(TextValues, NormSignInvertsBipolarTextOnly) {
    const ActivationParams p{12, 100, NXTKA_FLAG_DISPLAY, 0};
    const double divisor = 0.95237732427686;  // 10^0 x 5000000 / 5250020
    for (const bool bipolar : {true, false}) {
        SCOPED_TRACE(bipolar ? "bipolar" : "unipolar");
        sim::Config c = streamConfig(bipolar ? kBipolarControl : kUnipolarControl);
        c.level = 4;
        c.firmware = 0x0C10;
        c.displayNorm = 0x800000 | 5000000;
        SimPort sp(104, LineKind::Virtual, c);
        ASSERT_EQ(sp.activate(p), 0);
        sp.model().injectGarbage(bytesOf("+  0.7500\r\n"));
        ASSERT_TRUE(roundTrip(104));
        const Read r = readAll(104);
        ASSERT_EQ(r.values.size(), 1u);
        EXPECT_EQ(r.values[0], (bipolar ? -0.75 : 0.75) / divisor);
    }
}

TEST(ValueReads, SingleReadsTakeTheOldestAndTouchOnlyTheirOutputs) {
    sim::Config c = streamConfig(kBipolarControl);
    c.stream.waveform = sim::Waveform::Ramp;
    c.stream.level = 0.1;
    c.stream.amplitude = 0.6;
    c.stream.period = 3;
    c.stream.status = 0x21;
    SimPort sp(105, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);

    double v = kSentinel;
    unsigned char st = kStatusSentinel;
    EXPECT_EQ(TKAreceived(105), 0);
    EXPECT_EQ(TKAread(105, &v), 0);
    EXPECT_EQ(TKAreadStatus(105, &v, &st), 0);
    EXPECT_EQ(v, kSentinel);
    EXPECT_EQ(st, kStatusSentinel);

    requestValues(sp, 3);
    EXPECT_EQ(TKAreceived(105), 1);
    EXPECT_EQ(TKAreceived(105), 1);  // asking takes nothing
    ASSERT_EQ(TKAread(105, &v), 1);
    EXPECT_EQ(v, expectedBinary(FrameKind::Binary24, sp.model().valueAt(0), true));
    EXPECT_EQ(st, kStatusSentinel);
    ASSERT_EQ(TKAreadStatus(105, &v, &st), 1);
    EXPECT_EQ(v, expectedBinary(FrameKind::Binary24, sp.model().valueAt(1), true));
    EXPECT_EQ(st, 0x21);
    ASSERT_EQ(TKAreadStatus(105, &v, nullptr), 1);
    EXPECT_EQ(v, expectedBinary(FrameKind::Binary24, sp.model().valueAt(2), true));
    EXPECT_EQ(TKAreceived(105), 0);
    v = kSentinel;
    EXPECT_EQ(TKAread(105, &v), 0);
    EXPECT_EQ(v, kSentinel);
}

TEST(ValueReads, MultipleReadDeliversWhatIsThereAndNoMore) {
    sim::Config c = streamConfig(kBipolarControl);
    c.stream.waveform = sim::Waveform::Ramp;
    c.stream.level = -0.9;
    c.stream.amplitude = 1.5;
    c.stream.period = 5;
    c.stream.kind = FrameKind::Status16;
    c.stream.status = 0x0B;
    SimPort sp(106, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);

    double values[10];
    unsigned char statuses[10];
    std::int32_t delivered = 77;
    std::fill(std::begin(values), std::end(values), kSentinel);
    std::fill(std::begin(statuses), std::end(statuses), kStatusSentinel);

    // Nothing waiting: 0 and a count of 0.
    EXPECT_EQ(TKAreadStatusMultiple(106, values, statuses, 10, &delivered), 0);
    EXPECT_EQ(delivered, 0);

    requestValues(sp, 3);

    // A maximum below 1 fails before anything is looked at: the values stay.
    delivered = 77;
    EXPECT_EQ(TKAreadStatusMultiple(106, values, statuses, 0, &delivered), -1);
    EXPECT_EQ(TKAreadMultiple(106, values, -3, &delivered), -1);
    EXPECT_EQ(delivered, 77);
    EXPECT_EQ(values[0], kSentinel);
    EXPECT_EQ(statuses[0], kStatusSentinel);
    EXPECT_EQ(TKAreceived(106), 1);

    ASSERT_EQ(TKAreadStatusMultiple(106, values, statuses, 10, &delivered), 1);
    ASSERT_EQ(delivered, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(values[i], expectedBinary(FrameKind::Status16, sp.model().valueAt(static_cast<std::uint64_t>(i)), true))
            << i;
        EXPECT_EQ(statuses[i], 0x0B) << i;
    }
    for (int i = 3; i < 10; ++i) {
        EXPECT_EQ(values[i], kSentinel) << i;
        EXPECT_EQ(statuses[i], kStatusSentinel) << i;
    }
    EXPECT_EQ(TKAreceived(106), 0);

    // Without a status array, and with a maximum below what is waiting.
    requestValues(sp, 3);
    std::fill(std::begin(values), std::end(values), kSentinel);
    ASSERT_EQ(TKAreadMultiple(106, values, 2, &delivered), 1);
    EXPECT_EQ(delivered, 2);
    EXPECT_EQ(values[1], expectedBinary(FrameKind::Status16, sp.model().valueAt(4), true));
    EXPECT_EQ(values[2], kSentinel);
    ASSERT_EQ(TKAreadMultiple(106, values, 10, &delivered), 1);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(values[0], expectedBinary(FrameKind::Status16, sp.model().valueAt(5), true));
}

TEST(ValueReads, FullRingKeepsTheNewest) {
    sim::Config c = streamConfig(kUnipolarControl);
    c.stream.waveform = sim::Waveform::Ramp;
    c.stream.level = 0.1;
    c.stream.amplitude = 0.9;
    c.stream.period = 3;
    SimPort sp(107, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(2), 0);
    requestValues(sp, 3);
    const Read r = readAll(107);
    ASSERT_EQ(r.values.size(), 2u);
    EXPECT_EQ(r.values[0], expectedBinary(FrameKind::Binary24, sp.model().valueAt(1), false));
    EXPECT_EQ(r.values[1], expectedBinary(FrameKind::Binary24, sp.model().valueAt(2), false));

    // The ring keeps working after it wrapped.
    requestValues(sp, 1);
    const Read again = readAll(107);
    ASSERT_EQ(again.values.size(), 1u);
    EXPECT_EQ(again.values[0], expectedBinary(FrameKind::Binary24, sp.model().valueAt(3), false));
}

// Five values into a ring of two: numbers 0..4 were stored, 3 and 4 are
// kept, the gap before them is the three the full ring dropped.
TEST(ValueReads, TimedReadShowsArrivalTimesAndTheGapOfAnOverflow) {
    sim::Config c = streamConfig(kUnipolarControl);
    SimPort sp(109, LineKind::Pty, c);
    ASSERT_EQ(sp.activate(2), 0);
    const auto wallNs = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::int64_t before = wallNs();
    requestValues(sp, 5);
    const std::int64_t after = wallNs();

    std::uint64_t dropped = 99;
    ASSERT_EQ(NXgetDroppedValues(109, &dropped), 0);
    EXPECT_EQ(dropped, 3u);
    double values[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    unsigned char statuses[4] = {};
    std::int64_t times[4] = {};
    std::uint64_t sequences[4] = {};
    std::int32_t n = 0;
    ASSERT_EQ(NXreadTimed(109, values, statuses, times, sequences, 4, &n), 1);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(sequences[0], 3u);
    EXPECT_EQ(sequences[1], 4u);
    for (int i = 0; i < n; ++i) {
        EXPECT_GE(times[i], before);
        EXPECT_LE(times[i], after);
        EXPECT_NE(values[i], kSentinel);
    }
    EXPECT_LE(times[0], times[1]);
    EXPECT_EQ(values[2], kSentinel);

    // Only numbers wanted: the other outputs may be null.
    requestValues(sp, 1);
    ASSERT_EQ(NXreadTimed(109, nullptr, nullptr, nullptr, sequences, 4, &n), 1);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(sequences[0], 5u);
    EXPECT_EQ(NXreadTimed(109, nullptr, nullptr, nullptr, nullptr, 4, &n), 0);
}

TEST(ValueReads, PortsThatAreNotActiveFail) {
    SimPort sp(108, LineKind::Virtual, streamConfig(kBipolarControl));
    double v = kSentinel;
    unsigned char st = kStatusSentinel;
    double values[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    std::int32_t delivered = 77;
    for (const unsigned port : {108u, 1024u, 0xFFFFFFFFu}) {
        EXPECT_EQ(TKAread(port, &v), -1) << port;
        EXPECT_EQ(TKAreadStatus(port, &v, &st), -1) << port;
        EXPECT_EQ(TKAreadMultiple(port, values, 4, &delivered), -1) << port;
        EXPECT_EQ(TKAreadStatusMultiple(port, values, nullptr, 4, &delivered), -1) << port;
        EXPECT_EQ(TKAreceived(port), -1) << port;
        EXPECT_EQ(NXinternalStatus(port), -1) << port;
        EXPECT_EQ(NXrequestEvent(port), NXTKA_EVENT{}) << port;
    }
    EXPECT_EQ(v, kSentinel);
    EXPECT_EQ(st, kStatusSentinel);
    EXPECT_EQ(values[0], kSentinel);
    EXPECT_EQ(delivered, 77);

    // Released again, the port fails as before.
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(TKAreceived(108), 0);
    EXPECT_EQ(NXinternalStatus(108), 1);
    TKArelease(108);
    EXPECT_EQ(TKAreceived(108), -1);
    EXPECT_EQ(TKAread(108, &v), -1);
}

// After the line failed, values still waiting are delivered; an empty ring
// then reports the failure instead of "nothing waiting".
class ValueErrors : public ::testing::TestWithParam<LineKind> {};

TEST_P(ValueErrors, HangUpMakesAnEmptyRingFail) {
    SimPort sp(109, GetParam(), streamConfig(kBipolarControl));
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 2);
    if (sp.link() != nullptr) {
        sp.link()->hangUp();
    } else {
        sp.model().hangUp();
    }
    platform::sleepMs(200);  // let the receive thread see it first (not required for what follows)

    double v = kSentinel;
    ASSERT_EQ(TKAread(109, &v), 1);
    EXPECT_EQ(v, expectedBinary(FrameKind::Binary24, 0.25, true));
    EXPECT_EQ(TKAreceived(109), 1);
    ASSERT_EQ(TKAread(109, &v), 1);
    ASSERT_TRUE(eventually([] { return TKAreceived(109) == -1; }));
    v = kSentinel;
    unsigned char st = kStatusSentinel;
    std::int32_t delivered = 77;
    double values[3] = {kSentinel, kSentinel, kSentinel};
    EXPECT_EQ(TKAread(109, &v), -1);
    EXPECT_EQ(TKAreadStatus(109, &v, &st), -1);
    EXPECT_EQ(TKAreadMultiple(109, values, 3, &delivered), -1);
    EXPECT_EQ(v, kSentinel);
    EXPECT_EQ(st, kStatusSentinel);
    EXPECT_EQ(values[0], kSentinel);
    EXPECT_EQ(delivered, 77);
}

INSTANTIATE_TEST_SUITE_P(Lines, ValueErrors, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

TEST(ValueErrorsVirtual, ReadErrorSticksButLaterValuesStillArrive) {
    SimPort sp(110, LineKind::Virtual, streamConfig(kBipolarControl));
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(TKAreceived(110), 0);
    sp.link()->injectReadError(EIO);
    // Whether the read that fails is the one under way or the next one, a
    // value sent now arrives and is delivered, and the error stays behind.
    ASSERT_EQ(TKAgetValue(110), 0);
    ASSERT_TRUE(eventually([] { return TKAreceived(110) == 1; }));
    double v = kSentinel;
    ASSERT_EQ(TKAread(110, &v), 1);
    EXPECT_EQ(v, expectedBinary(FrameKind::Binary24, 0.25, true));
    ASSERT_TRUE(eventually([] { return TKAreceived(110) == -1; }));
    v = kSentinel;
    EXPECT_EQ(TKAread(110, &v), -1);
    EXPECT_EQ(v, kSentinel);

    // No answer is waited for any more: a flush fails at once, and still
    // empties the ring.
    ASSERT_EQ(TKAgetValue(110), 0);
    ASSERT_TRUE(eventually([] { return TKAreceived(110) == 1; }));
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAflushBuffer(110), -1);
    EXPECT_LT(test::since(t0), 900u);
    EXPECT_EQ(TKAreceived(110), -1);
}

// ---------------------------------------------------------------- data event

bool readable(NXTKA_EVENT fd, int ms = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

TEST(DataEvent, ReadableExactlyWhileValuesWait) {
    SimPort sp(111, LineKind::Virtual, streamConfig(kBipolarControl));
    ASSERT_EQ(sp.activate(), 0);
    const NXTKA_EVENT ev = NXrequestEvent(111);
    ASSERT_GT(ev, 0);
    EXPECT_EQ(NXrequestEvent(111), ev);
    EXPECT_FALSE(readable(ev));

    ASSERT_EQ(TKAgetValue(111), 0);
    EXPECT_TRUE(readable(ev, 3000));
    requestValues(sp, 1);  // two waiting now
    double v = 0;
    ASSERT_EQ(TKAread(111, &v), 1);
    EXPECT_TRUE(readable(ev));  // one is still waiting
    ASSERT_EQ(TKAread(111, &v), 1);
    EXPECT_FALSE(readable(ev));  // the read that took the last one reset it
    EXPECT_FALSE(readable(ev));  // polling does not change it

    requestValues(sp, 3);
    EXPECT_TRUE(readable(ev));
    double values[4];
    std::int32_t n = 0;
    ASSERT_EQ(TKAreadMultiple(111, values, 2, &n), 1);
    EXPECT_TRUE(readable(ev));
    ASSERT_EQ(TKAreadMultiple(111, values, 4, &n), 1);
    EXPECT_EQ(n, 1);
    EXPECT_FALSE(readable(ev));
    EXPECT_EQ(TKAread(111, &v), 0);
    EXPECT_FALSE(readable(ev));
}

TEST(DataEvent, RequestedAfterValuesArrivedStartsReadable) {
    SimPort sp(112, LineKind::Virtual, streamConfig(kBipolarControl));
    ASSERT_EQ(sp.activate(), 0);
    requestValues(sp, 2);
    const NXTKA_EVENT ev = NXrequestEvent(112);
    ASSERT_GT(ev, 0);
    EXPECT_TRUE(readable(ev));
    EXPECT_EQ(NXrequestEvent(112), ev);
    const Read r = readAll(112);
    EXPECT_EQ(r.values.size(), 2u);
    EXPECT_FALSE(readable(ev));
}

TEST(DataEvent, StreamedValuesWakeAPollingThread) {
    sim::Config c = streamConfig(kBipolarControl);
    c.stream.rate = 50;
    SimPort sp(113, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    const NXTKA_EVENT ev = NXrequestEvent(113);
    ASSERT_GT(ev, 0);
    int delivered = 0;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(readable(ev, 3000)) << round;
        double values[64];
        std::int32_t n = 0;
        // Everything waiting now; one more may come in between, so read
        // until the ring is empty and the event must be down.
        while (TKAreadMultiple(113, values, 64, &n) == 1) {
            for (int i = 0; i < n; ++i) EXPECT_EQ(values[i], expectedBinary(FrameKind::Binary24, 0.25, true));
            delivered += n;
            if (!readable(ev)) break;
        }
    }
    EXPECT_GE(delivered, 5);
}

}  // namespace
}  // namespace nxtka
