// The display flags of a level-4 amplifier at their boundaries: the firmware
// bit (two thresholds, chosen by option 0x100), the activation's display
// flag, the norm's sign bit; and what re-identification keeps of them. Text
// values show the flags on the wire: only all three bits together invert a
// bipolar text value.
#include "core/port_table.h"
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace nxtka {
namespace {

using test::LineKind;
using test::roundTrip;
using test::SimPort;

constexpr std::uint32_t kNormOne = 5250020;     // with decimal point 1: divisor exactly 1.0
constexpr std::uint32_t kNormSign = 0x800000;   // the norm's sign bit
constexpr int kInvertingFlags = 0x31;

int displayFlags(unsigned port) {
    return NXreservedExec(
        port, 0,
        [](uint32_t p, int32_t) -> int32_t { return library().slot(p).session.load()->displayFlags.load(); }, 0);
}

// The text frame "+  2.5" read back through the port: 2.5 (the norm divides
// by 1.0), or -2.5 when the flags invert bipolar text.
double textValue(SimPort& sp) {
    sp.model().injectGarbage({'+', ' ', ' ', '2', '.', '5', '\r', '\n'});
    EXPECT_TRUE(roundTrip(sp.port()));
    double v = 0.0;
    EXPECT_EQ(TKAread(sp.port(), &v), 1);
    return v;
}

sim::Config amplifier(int level, std::uint32_t options, std::uint16_t firmware, std::uint32_t norm) {
    sim::Config c;
    c.level = level;
    c.options = options;
    c.firmware = firmware;
    c.control = 0x000028;  // bipolar
    c.displayDecimalPoint = 1;
    c.displayNorm = norm;
    c.stream.rate = 0;
    return c;
}

struct FlagCase {
    const char* name;
    int level;
    std::uint32_t options;
    std::uint16_t firmware;
    bool displayFlag;  // the activation's NXTKA_FLAG_DISPLAY
    bool normSign;
    int expected;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }
std::string flagCaseName(const ::testing::TestParamInfo<FlagCase>& info) { return info.param.name; }

class ActivationDisplayFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ActivationDisplayFlags, FollowLevelFirmwareOptionFlagAndSign) {
    const FlagCase& c = GetParam();
    SimPort sp(701, LineKind::Virtual, amplifier(c.level, c.options, c.firmware, kNormOne | (c.normSign ? kNormSign : 0)));
    const ActivationParams p{12, 100, c.displayFlag ? NXTKA_FLAG_DISPLAY : 0u, 0};
    ASSERT_EQ(sp.activate(p), 0);
    EXPECT_EQ(displayFlags(701), c.expected);
    EXPECT_EQ(textValue(sp), c.expected == kInvertingFlags ? -2.5 : 2.5);
}

// Firmware 3842 (0xF02) is the threshold with option 0x100, 3080 (0xC08)
// without it; the sign bit counts only with the firmware bit and the
// activation's display flag.
INSTANTIATE_TEST_SUITE_P(
    Boundaries, ActivationDisplayFlags,
    ::testing::Values(
        FlagCase{"Option100Firmware3842", 4, 0x100, 0xF02, true, true, 0x31},
        FlagCase{"Option100Firmware3841", 4, 0x100, 3841, true, true, 0x20},
        FlagCase{"Option100Firmware3842WithoutDisplayFlag", 4, 0x100, 3842, false, true, 0x10},
        FlagCase{"Option100Firmware3080", 4, 0x100, 3080, true, true, 0x20},
        FlagCase{"Option100FirmwareFFFF", 4, 0x100, 0xFFFF, true, true, 0x31},
        FlagCase{"Firmware3080", 4, 0, 3080, true, true, 0x31},
        FlagCase{"Firmware3079", 4, 0, 3079, true, true, 0x20},
        FlagCase{"Firmware3079WithoutDisplayFlag", 4, 0, 3079, false, true, 0x00},
        FlagCase{"Firmware3841WithoutOption", 4, 0, 3841, true, true, 0x31},
        FlagCase{"Firmware3080WithoutSign", 4, 0, 3080, true, false, 0x30},
        FlagCase{"Level3Firmware3842", 3, 0x100, 3842, true, true, 0x20},
        FlagCase{"Level5Firmware3080", 5, 0, 3080, true, true, 0x31}),
    flagCaseName);

TEST(ActivationDisplayFlagsFirmware, UnansweredFirmwareLeavesTheFirmwareBitOff) {
    SimPort sp(702, LineKind::Virtual, amplifier(4, 0, 3080, kNormOne | kNormSign));
    sp.model().setFaults(sim::Faults{}.silence(cmd::kGetFirmware));
    const ActivationParams p{12, 100, NXTKA_FLAG_DISPLAY, 0};
    ASSERT_EQ(sp.activate(p), 0);
    EXPECT_EQ(displayFlags(702), 0x20);
    sp.model().setFaults({});  // the round trip of textValue asks for the firmware
    EXPECT_EQ(textValue(sp), 2.5);
}

struct ReidentifyCase {
    const char* name;
    int level;  // the amplifier's level at re-identification
    std::uint16_t firmware;
    int expected;
};

void PrintTo(const ReidentifyCase& c, std::ostream* os) { *os << c.name; }
std::string reidentifyCaseName(const ::testing::TestParamInfo<ReidentifyCase>& info) { return info.param.name; }

class ReidentifyDisplayFlags : public ::testing::TestWithParam<ReidentifyCase> {};

// Re-identification at level 4 rebuilds the flags from the firmware alone,
// dropping the activation's display flag and the sign; below level 4 it
// keeps whatever the activation set.
TEST_P(ReidentifyDisplayFlags, RebuildAtLevelFourKeepBelow) {
    const ReidentifyCase& c = GetParam();
    SimPort sp(703, LineKind::Virtual, amplifier(4, 0, 0xC10, kNormOne | kNormSign));
    const ActivationParams p{12, 100, NXTKA_FLAG_DISPLAY, 0};
    ASSERT_EQ(sp.activate(p), 0);
    ASSERT_EQ(displayFlags(703), 0x31);
    ASSERT_EQ(textValue(sp), -2.5);

    sp.model().setLevel(c.level);
    sp.model().setReg(cmd::kGetFirmware, c.firmware);
    ASSERT_EQ(TKAinitialize(703), 0);
    EXPECT_EQ(TKAmodel(703), c.level);
    EXPECT_EQ(displayFlags(703), c.expected);
    EXPECT_EQ(textValue(sp), c.expected == kInvertingFlags ? -2.5 : 2.5);
}

INSTANTIATE_TEST_SUITE_P(Levels, ReidentifyDisplayFlags,
                         ::testing::Values(ReidentifyCase{"Level4", 4, 0xC10, 0x10},
                                           ReidentifyCase{"Level4Firmware3079", 4, 3079, 0x00},
                                           ReidentifyCase{"Level3", 3, 0xC10, 0x31},
                                           ReidentifyCase{"Level0", 0, 0xC10, 0x31}),
                         reidentifyCaseName);

}  // namespace
}  // namespace nxtka
