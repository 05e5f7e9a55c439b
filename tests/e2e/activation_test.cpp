// Activation, identification and release against the simulated amplifier.
#include "support/sim_port.h"
#include "support/two_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace nxtka {
namespace {

using test::LineKind;
using test::SimPort;
using test::since;

std::vector<int> without(std::vector<int> codes, int code) {
    codes.erase(std::remove(codes.begin(), codes.end(), code), codes.end());
    return codes;
}

class Activation : public ::testing::TestWithParam<LineKind> {};

TEST_P(Activation, IdentifiesInOrderAndReleaseUnlocksTheInterfaceTwice) {
    sim::Config c;
    c.level = 3;
    SimPort sp(11, GetParam(), c);
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 64, 54, 43, 28, 26}));
    EXPECT_EQ(sp.model().commands()[0].params, std::vector<std::uint8_t>{3});
    EXPECT_EQ(TKAmodel(11), 3);
    EXPECT_TRUE(sp.model().uiLocked());

    sp.model().clearRecord();
    TKArelease(11);
    EXPECT_TRUE(sp.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(2), 2));
    const auto cmds = sp.model().commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].code, 63);
    EXPECT_EQ(cmds[1].code, 63);
    EXPECT_GT(cmds[1].at - cmds[0].at, std::chrono::milliseconds(10));
    EXPECT_EQ(TKAmodel(11), -1);
    TKArelease(11);  // harmless
    EXPECT_EQ(sp.activate(), 0);  // and the port can be taken again
}

TEST_P(Activation, LevelZeroSkipsLockOptionsAndFirmware) {
    sim::Config c;
    c.level = 0;
    SimPort sp(12, GetParam(), c);
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 28, 26}));
    EXPECT_EQ(TKAmodel(12), 0);
    sp.model().clearRecord();
    TKArelease(12);
    EXPECT_TRUE(sp.codes().empty());  // no unlock below level 2
}

TEST_P(Activation, NormOfZeroFailsAndLeavesThePortFree) {
    sim::Config c;
    c.displayNorm = 0x800000;  // only the flag bit: the norm itself is 0
    SimPort sp(13, GetParam(), c);
    EXPECT_EQ(sp.activate(), -1);
    EXPECT_EQ(TKAmodel(13), -1);
    sp.model().setReg(cmd::kDispGetNorm, 5250020);
    EXPECT_EQ(sp.activate(), 0);
}

TEST_P(Activation, LineSpeedIsTheOneGiven) {
    SimPort sp(14, GetParam(), {}, 115200);
    const ActivationParams p{16, 100, NXTKA_FLAG_BAUDRATE, 115200};
    ASSERT_EQ(sp.activate(p), 0);
    EXPECT_EQ(TKAgetLocalBaudRate(14), 115200);
    if (sp.link() != nullptr) {
        const auto r = sp.link()->record();
        EXPECT_EQ(r.settings.baudRate, 115200u);
        EXPECT_EQ(r.settings.dataBits, 8);
        EXPECT_EQ(r.settings.parity, 0);
        EXPECT_FALSE(r.settings.ctsFlow);
        EXPECT_EQ(r.inQueue, 32768u);
        EXPECT_EQ(r.outQueue, 256u);
    }
}

TEST_P(Activation, SecondActivationFailsAndLeavesTheFirstWorking) {
    SimPort sp(15, GetParam());
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sp.activate(), -1);
    EXPECT_EQ(TKAmodel(15), 3);
    EXPECT_EQ(TKAflushBuffer(15), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, Activation, ::testing::Values(LineKind::Virtual, LineKind::Pty), test::lineName);

TEST(ActivationParams, BadRecordsAreRefusedBeforeAnythingIsOpened) {
    SimPort sp(16, LineKind::Virtual);
    EXPECT_EQ(TKAactivateExtended(16, nullptr), -1);
    for (std::int32_t size : {7, 17, 0, -1}) {
        const ActivationParams p{size, 10, 0, 38400};
        EXPECT_EQ(TKAactivateExtended(16, &p), -1) << size;
    }
    const ActivationParams flag12{12, 10, NXTKA_FLAG_BAUDRATE, 0};
    EXPECT_EQ(TKAactivateExtended(16, &flag12), -1);
    const ActivationParams zeroBaud{16, 10, NXTKA_FLAG_BAUDRATE, 0};
    EXPECT_EQ(TKAactivateExtended(16, &zeroBaud), -1);
    const ActivationParams negativeBaud{16, 10, NXTKA_FLAG_BAUDRATE, -9600};
    EXPECT_EQ(TKAactivateExtended(16, &negativeBaud), -1);
    EXPECT_EQ(sp.link()->record().opens, 0);
    EXPECT_EQ(TKAactivateExtended(1024, &zeroBaud), -1);
    // Eight bytes are enough: no flags, 38400 bit/s.
    const ActivationParams eight{8, 10, 0xFFFFFFFF, -5};
    ASSERT_EQ(TKAactivateExtended(16, &eight), 0);
    EXPECT_EQ(TKAgetLocalBaudRate(16), 38400);
}

TEST(ActivationParams, UnreadableRecordsAreRefusedWithoutAFault) {
    SimPort sp(18, LineKind::Virtual);
    test::TwoPages pages(true);
    ASSERT_TRUE(pages.ok());
    // A record whose size says 16 but whose last 8 bytes lie in the missing page.
    const std::int32_t head[2] = {16, 10};
    std::memcpy(pages.end() - 8, head, sizeof head);
    EXPECT_EQ(TKAactivateExtended(18, reinterpret_cast<const ActivationParams*>(pages.end() - 8)), -1);
    EXPECT_EQ(TKAactivateExtended(18, reinterpret_cast<const ActivationParams*>(pages.end())), -1);
    EXPECT_EQ(TKAactivateExtended(18, reinterpret_cast<const ActivationParams*>(std::uintptr_t{0x10})), -1);
    EXPECT_EQ(sp.link()->record().opens, 0);
    // The same place with a size of 8 is all readable: activation goes ahead.
    const std::int32_t eight[2] = {8, 10};
    std::memcpy(pages.end() - 8, eight, sizeof eight);
    ASSERT_EQ(TKAactivateExtended(18, reinterpret_cast<const ActivationParams*>(pages.end() - 8)), 0);
    EXPECT_EQ(TKAgetLocalBaudRate(18), 38400);
}

TEST(ActivationParams, CapacityZeroGivesARingOfOne) {
    sim::Config c;
    c.stream.rate = 0;
    SimPort sp(17, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(0), 0);
    ASSERT_EQ(TKAgetValue(17), 0);
    ASSERT_EQ(TKAgetValue(17), 0);
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kSingleValue, std::chrono::seconds(2), 2));
    platform::sleepMs(100);
    double v[4];
    std::int32_t n = 0;
    ASSERT_EQ(TKAreadMultiple(17, v, 4, &n), 1);
    EXPECT_EQ(n, 1);
}

TEST(ActivationGuards, CallsOnPortsThatAreNotActiveFailAtOnce) {
    const std::uint32_t t0 = platform::tickCount();
    double v = 0;
    EXPECT_EQ(TKAmodel(1024), -1);
    EXPECT_EQ(TKAmodel(900), -1);
    EXPECT_EQ(TKAread(900, &v), -1);
    EXPECT_EQ(TKAflushBuffer(900), -1);
    EXPECT_EQ(TKAinitialize(1024), -1);
    EXPECT_EQ(TKAgetLocalBaudRate(900), -1);
    EXPECT_EQ(TKAabortActivate(900), -1);
    EXPECT_EQ(TKAabortActivate(1024), -1);
    TKArelease(900);
    TKArelease(4000);
    EXPECT_LT(since(t0), 200u);
}

TEST(ActivationGuards, CallsDuringAnActivationOfTheSamePortFail) {
    sim::Config c;
    c.level = 3;
    SimPort sp(18, LineKind::Virtual, c);
    sp.model().setFaults(sim::Faults{}.delay(cmd::kIdentify, 800));
    std::thread activator([&] { EXPECT_EQ(sp.activate(), 0); });
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kIdentify, std::chrono::seconds(3)));
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(TKAmodel(18), -1);
    EXPECT_EQ(TKAflushBuffer(18), -1);
    EXPECT_LT(since(t0), 200u);
    activator.join();
    EXPECT_EQ(TKAmodel(18), 3);
}

// Release takes the session out of the table before it closes the device.
// An activation of the port that comes in between waits for the close, then
// opens the device, instead of finding it still held.
TEST(ActivationGuards, ActivationDuringAReleaseOfTheSamePortWaitsForIt) {
    setSettleAfterOpenMs(0);
    sim::Config c;
    c.level = 3;  // release unlocks the user interface (63) before it closes the device
    c.stream.rate = 0;
    SimPort sp(25, LineKind::Pty, c);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(sp.activate(16), 0);
        sp.model().clearRecord();
        std::thread releaser([] { TKArelease(25); });
        // The release is under way: the session is out of the table.
        const bool underWay = sp.model().waitForCommand(cmd::kUnlockInterface.code, std::chrono::seconds(3));
        const int32_t result = sp.activate(16);
        char reason[200] = {};
        NXgetLastFailure(reason, sizeof reason);
        releaser.join();
        ASSERT_TRUE(underWay);
        ASSERT_EQ(result, 0) << reason;
        EXPECT_EQ(TKAmodel(25), 3);
        TKArelease(25);
    }
    setSettleAfterOpenMs(250);
}

TEST(ActivationSleep, SleepBitIsClearedForTheSessionAndRestoredAtRelease) {
    sim::Config c;
    c.level = 3;
    c.options = 0x200;
    c.specialMode = 0x0041;
    SimPort sp(19, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 64, 54, 137, 136, 43, 28, 26}));
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x0001u);
    sp.model().clearRecord();
    sp.model().setReg(cmd::kGetSpecialMode, 0x0003);  // changed meanwhile: only the sleep bit is put back
    TKArelease(19);
    EXPECT_EQ(without(sp.codes(), 63), (std::vector<int>{137, 136}));
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x0043u);
}

TEST(ActivationSleep, AwakeAmplifierIsLeftAlone) {
    sim::Config c;
    c.options = 0x200;
    c.specialMode = 0x0001;
    SimPort sp(20, LineKind::Virtual, c);
    ASSERT_EQ(sp.activate(), 0);
    EXPECT_EQ(sp.codes(), (std::vector<int>{42, 64, 54, 137, 43, 28, 26}));
    sp.model().clearRecord();
    TKArelease(20);
    EXPECT_EQ(without(sp.codes(), 63), (std::vector<int>{137, 136}));
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0x0001u);
}

TEST(ActivationFailures, MissingRequiredAnswersFail) {
    for (int code : {64, 54, 28, 26}) {
        SimPort sp(21, LineKind::Virtual);
        sp.model().setFaults(sim::Faults{}.silence(code));
        EXPECT_EQ(sp.activate(), -1) << code;
        EXPECT_EQ(TKAmodel(21), -1);
    }
    sim::Config c;
    c.lockAnswer = 0;
    SimPort wrongLock(21, LineKind::Virtual, c);
    EXPECT_EQ(wrongLock.activate(), -1);
}

TEST(ActivationFailures, MissingFirmwareAnswerIsNoError) {
    SimPort sp(22, LineKind::Virtual);
    sp.model().setFaults(sim::Faults{}.silence(cmd::kGetFirmware));
    EXPECT_EQ(sp.activate(), 0);
}

TEST(ActivationFailures, FailingLineSettingsFail) {
    SimPort sp(23, LineKind::Virtual);
    auto f = sp.link()->faults();
    f.lineSettingsFail = true;
    sp.link()->setFaults(f);
    EXPECT_EQ(sp.activate(), -1);
    EXPECT_FALSE(sp.link()->record().open);
    f.lineSettingsFail = false;
    sp.link()->setFaults(f);
    EXPECT_EQ(sp.activate(), 0);
}

TEST(ActivationFailures, DeviceThatDoesNotExist) {
    NXsetDeviceName(24, "/dev/nxtka-no-such-device");
    EXPECT_EQ(TKAactivate(24, 10), -1);
    NXsetDeviceName(24, nullptr);
}

// ---- the slow ones: real 5 s time-outs

TEST(ActivationSlow, SilentAmplifierFailsAfterTheProbe) {
    SimPort sp(25, LineKind::Virtual);
    sp.model().setFaults(sim::Faults{}.silence(cmd::kIdentify));
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(sp.activate(), -1);
    EXPECT_GE(since(t0), 5000u);
    EXPECT_LT(since(t0), 8000u);
    EXPECT_EQ(sp.model().commandCount(cmd::kIdentify), 1u);
    EXPECT_FALSE(sp.link()->record().open);
}

TEST(ActivationSlow, SilentAmplifierThatStreamsGetsASecondProbe) {
    sim::Config c;
    c.stream.rate = 50;
    SimPort sp(26, LineKind::Virtual, c);
    sp.model().setFaults(sim::Faults{}.silence(cmd::kIdentify));
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(sp.activate(), -1);
    EXPECT_GE(since(t0), 10000u);
    EXPECT_LT(since(t0), 14000u);
    EXPECT_EQ(sp.model().commandCount(cmd::kIdentify), 2u);
}

TEST(ActivationSlow, HandshakeWaitsForCts) {
    SimPort sp(27, LineKind::Virtual);
    auto f = sp.link()->faults();
    f.cts = false;
    sp.link()->setFaults(f);
    const ActivationParams p{12, 10, NXTKA_FLAG_RTSCTS, 0};
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(sp.activate(p), -1);
    EXPECT_GE(since(t0), 5000u);
    EXPECT_LT(since(t0), 8000u);
    EXPECT_TRUE(sp.link()->record().settings.ctsFlow);
    EXPECT_EQ(sp.link()->record().settings.rts, platform::LineSettings::Control::Handshake);

    // CTS coming on during the wait lets the activation go on.
    std::thread raise([&] {
        platform::sleepMs(600);
        auto g = sp.link()->faults();
        g.cts = true;
        sp.link()->setFaults(g);
    });
    EXPECT_EQ(sp.activate(p), 0);
    raise.join();
}

TEST(ActivationHandshake, LineWithoutModemLinesFailsAtOnce) {
    SimPort sp(28, LineKind::Pty);
    const ActivationParams p{12, 10, NXTKA_FLAG_RTSCTS, 0};
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(sp.activate(p), -1);
    EXPECT_LT(since(t0), 2000u);
}

TEST(ActivationWakeUp, AbortEndsTheWaitForASleepingAmplifier) {
    SimPort sp(29, LineKind::Virtual);
    sp.model().setAsleep(true);
    const ActivationParams p{12, 10, NXTKA_FLAG_WAKEUP, 0};
    std::thread aborter([&] {
        platform::sleepMs(1000);
        EXPECT_EQ(TKAabortActivate(29), 0);
    });
    const std::uint32_t t0 = platform::tickCount();
    EXPECT_EQ(sp.activate(p), -1);
    EXPECT_LT(since(t0), 3000u);
    aborter.join();
    EXPECT_TRUE(sp.codes().empty());  // nothing was asked of a silent amplifier
}

TEST(ActivationWakeUp, AbortWithoutTheWakeUpFlagFails) {
    SimPort sp(30, LineKind::Virtual);
    sp.model().setFaults(sim::Faults{}.delay(cmd::kIdentify, 600));
    std::thread activator([&] { EXPECT_EQ(sp.activate(), 0); });
    ASSERT_TRUE(sp.model().waitForCommand(cmd::kIdentify, std::chrono::seconds(3)));
    EXPECT_EQ(TKAabortActivate(30), -1);
    activator.join();
}

TEST(ActivationWakeUp, AmplifierThatWakesUpIsIdentified) {
    sim::Config c;
    c.options = 0x200;
    c.specialMode = 0x0040;
    c.stream.rate = 20;
    SimPort sp(31, LineKind::Virtual, c);
    sp.model().setAsleep(true);
    std::thread waker([&] {
        platform::sleepMs(400);
        sp.model().setAsleep(false);
    });
    const ActivationParams p{12, 10, NXTKA_FLAG_WAKEUP, 0};
    EXPECT_EQ(sp.activate(p), 0);
    waker.join();
    const auto codes = sp.codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[0], 137);  // the special mode is read first, then its sleep bit cleared
    EXPECT_EQ(codes[1], 136);
    EXPECT_EQ(sp.model().reg(cmd::kGetSpecialMode), 0u);
}

TEST(DeviceNames, MapPortsToAnyDevice) {
    char buf[NXTKA_DEVICE_NAME_MAX];
    EXPECT_EQ(NXgetDeviceName(3, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "/dev/ttyS3");
    EXPECT_EQ(NXsetDeviceName(3, "/dev/serial/by-id/usb-amp"), 0);
    EXPECT_GT(NXgetDeviceName(3, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "/dev/serial/by-id/usb-amp");
    EXPECT_EQ(NXgetDeviceName(3, buf, 5), -1);  // too small
    EXPECT_EQ(NXgetDeviceName(3, nullptr, 100), -1);
    EXPECT_EQ(NXsetDeviceName(3, ""), 0);
    EXPECT_EQ(NXgetDeviceName(3, buf, sizeof buf), 10);
    EXPECT_EQ(NXsetDeviceName(3, "/dev/x"), 0);
    EXPECT_EQ(NXsetDeviceName(3, nullptr), 0);
    EXPECT_STREQ((NXgetDeviceName(3, buf, sizeof buf), buf), "/dev/ttyS3");
    const std::string tooLong(NXTKA_DEVICE_NAME_MAX, 'x');
    EXPECT_EQ(NXsetDeviceName(3, tooLong.c_str()), -1);
    EXPECT_EQ(NXsetDeviceName(1024, "/dev/x"), -1);
    EXPECT_EQ(NXgetDeviceName(1024, buf, sizeof buf), -1);
}

TEST(Version, ComesFromTheBuildsVersionNumber) {
    EXPECT_EQ(TKAversion(), 0x00010035);
    EXPECT_EQ(TKArevision(), 0x00000020);
}

}  // namespace
}  // namespace nxtka
