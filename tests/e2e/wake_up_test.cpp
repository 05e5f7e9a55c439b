// The wait for a sleeping amplifier (activation flag NXTKA_FLAG_WAKEUP) when
// the special mode is not answered: the option bits without the sleep bit,
// or an identification at level 0, stand in for it; when neither tells
// anything, the wait starts again with the next byte from the amplifier.
#include "core/port_table.h"
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

using test::eventually;
using test::LineKind;
using test::SimPort;

int sleepModeOf(unsigned port) {
    return NXreservedExec(
        port, 0, [](uint32_t p, int32_t) -> int32_t { return library().slot(p).session.load()->sleepMode.load(); },
        0);
}

// Sends a value now and then (the bytes that wake a waiting activation)
// until `count` special-mode queries have arrived in all.
bool pokeUntilSpecialModeQuery(SimPort& sp, std::size_t count) {
    return eventually(
        [&] {
            if (sp.model().commandCount(cmd::kGetSpecialMode) >= count) return true;
            sp.model().emitValue();
            platform::sleepMs(50);
            return false;
        },
        5000);
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct WakeCase {
    const char* name;
    int level;
    std::uint32_t options;
    std::uint16_t specialMode;
    std::vector<int> silent;      // codes not answered in the first round
    std::vector<int> firstRound;  // what the first wake-up asks
    bool waitsAgain;              // the first round learned no special mode
    std::vector<int> rest;        // everything asked after the first round
    int sleepMode;                // kept for the release
};

void PrintTo(const WakeCase& c, std::ostream* os) { *os << c.name; }
std::string wakeCaseName(const ::testing::TestParamInfo<WakeCase>& info) { return info.param.name; }

class WakeUpFallBack : public ::testing::TestWithParam<WakeCase> {};

TEST_P(WakeUpFallBack, AsksInOrderAndWaitsAgainOnlyWhenNothingWasLearned) {
    const WakeCase& c = GetParam();
    sim::Config config;
    config.level = c.level;
    config.options = c.options;
    config.specialMode = c.specialMode;
    config.stream.rate = 0;
    SimPort sp(711, LineKind::Virtual, config);
    sim::Faults silent;
    for (int code : c.silent) silent.silence(code);
    sp.model().setFaults(silent);

    std::atomic<int> result{99};
    std::thread activator([&] {
        const ActivationParams p{12, 100, NXTKA_FLAG_WAKEUP, 0};
        result = sp.activate(p);
    });
    EXPECT_TRUE(pokeUntilSpecialModeQuery(sp, 1));
    EXPECT_TRUE(eventually([&] { return sp.codes().size() >= c.firstRound.size(); }, 5000));

    if (c.waitsAgain) {
        // Nothing arrives, so nothing more is asked: the answer time-out of
        // the round's last query is over long before this.
        platform::sleepMs(2000);
        EXPECT_EQ(sp.codes(), c.firstRound);
        sp.model().setFaults({});
        EXPECT_TRUE(pokeUntilSpecialModeQuery(sp, 2));
    }
    // A wait that never ends is ended from outside, and fails the case.
    if (!eventually([&] { return result.load() != 99; }, 10000)) TKAabortActivate(711);
    activator.join();
    ASSERT_EQ(result.load(), 0);
    EXPECT_EQ(sp.codes(), concat(c.firstRound, c.rest));
    EXPECT_EQ(TKAmodel(711), c.level);
    EXPECT_EQ(sleepModeOf(711), c.sleepMode);
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), c.specialMode & ~0x40u);  // awake while the port is in use
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WakeUpFallBack,
    ::testing::Values(
        // 54 tells that there is no sleep bit: special mode 0.
        WakeCase{"OptionsWithoutSleepBit", 3, 0x100, 0, {137}, {137, 54}, false, {42, 64, 54, 43, 28, 26}, 0},
        // Neither 137 nor 54: 42 answered with ';' is level 0, which has no special mode.
        WakeCase{"LevelZero", 0, 0, 0, {137, 54}, {137, 54, 42}, false, {42, 28, 26}, 0},
        // 42 answered at level 3 tells nothing about the special mode.
        WakeCase{"LevelThreeWithoutOptions", 3, 0, 0, {137, 54}, {137, 54, 42}, true,
                 {137, 42, 64, 54, 43, 28, 26}, 0},
        // Nothing answered at all.
        WakeCase{"NothingAnswered", 3, 0, 0, {137, 54, 42}, {137, 54, 42}, true, {137, 42, 64, 54, 43, 28, 26}, 0},
        // The option bits are known and have the sleep bit: 42 is not asked,
        // the special mode itself is needed.
        WakeCase{"SleepOptionWithoutSpecialMode", 3, 0x200, 0x41, {137}, {137, 54}, true,
                 {137, 136, 42, 64, 54, 43, 28, 26}, 1}),
    wakeCaseName);

}  // namespace
}  // namespace nxtka
