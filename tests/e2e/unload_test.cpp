// Unloading the shared library closes every port that is still active, in
// port order: the amplifiers get their user interfaces unlocked and the
// devices are free again.
#include "core/command_table.h"
#include "nxtka.h"
#include "pty_amplifier.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace nxtka {
namespace {

template <class F>
F symbol(void* lib, const char* name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

TEST(Unload, ClosesEveryActivePortInPortOrder) {
    sim::Config c;
    c.level = 2;
    sim::PtyAmplifier low(c), high(c);

    void* lib = dlopen(NXTKA_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto setName = symbol<decltype(&NXsetDeviceName)>(lib, "NXsetDeviceName");
    auto activate = symbol<decltype(&TKAactivate)>(lib, "TKAactivate");
    auto model = symbol<decltype(&TKAmodel)>(lib, "TKAmodel");
    ASSERT_TRUE(setName && activate && model);
    ASSERT_EQ(setName(40, low.slavePath().c_str()), 0);
    ASSERT_EQ(setName(41, high.slavePath().c_str()), 0);
    ASSERT_EQ(activate(41, 100), 0);
    ASSERT_EQ(activate(40, 100), 0);
    ASSERT_EQ(model(40), 2);
    low.model().clearRecord();
    high.model().clearRecord();

    ASSERT_EQ(dlclose(lib), 0);
    EXPECT_EQ(dlopen(NXTKA_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stayed loaded";

    ASSERT_TRUE(low.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(5), 2));
    ASSERT_TRUE(high.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(5), 2));
    const auto lowLast = low.model().commands().back().at;
    const auto highFirst = high.model().commands().front().at;
    EXPECT_LT(lowLast, highFirst);  // port 40 was closed before port 41
    EXPECT_FALSE(low.model().uiLocked());
    EXPECT_FALSE(high.model().uiLocked());
}


// The library's exports, from an instance of its own.
struct Loaded {
    void* lib = dlopen(NXTKA_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    decltype(&NXsetDeviceName) setName = symbol<decltype(&NXsetDeviceName)>(lib, "NXsetDeviceName");
    decltype(&TKAactivate) activate = symbol<decltype(&TKAactivate)>(lib, "TKAactivate");
    decltype(&TKArelease) release = symbol<decltype(&TKArelease)>(lib, "TKArelease");
    decltype(&TKAreceived) received = symbol<decltype(&TKAreceived)>(lib, "TKAreceived");
    decltype(&TKAmodel) model = symbol<decltype(&TKAmodel)>(lib, "TKAmodel");
    decltype(&NXasynchronousSendBytes) sendAsync =
        symbol<decltype(&NXasynchronousSendBytes)>(lib, "NXasynchronousSendBytes");
    bool ok() const { return lib && setName && activate && release && received && model && sendAsync; }
};

// Unloading while values stream puts the sleep bit back just as release
// does: 137, then 136 with bit 6 set, then the two unlocks.
class UnloadWhileStreaming : public ::testing::TestWithParam<double> {};

TEST_P(UnloadWhileStreaming, RestoresTheSleepBitAndUnlocks) {
    test::Watchdog dog(std::chrono::seconds(20));
    sim::Config c;
    c.level = 3;
    c.options = 0x200;
    c.specialMode = 0x41;
    c.stream.rate = GetParam();
    sim::PtyAmplifier amp(c);
    // The answer to 137 comes 20 ms late, so values always arrive before it.
    sim::Faults late;
    late.delay(cmd::kGetSpecialMode, 20);
    amp.model().setFaults(late);
    Loaded l;
    ASSERT_TRUE(l.ok()) << dlerror();
    ASSERT_EQ(l.setName(42, amp.slavePath().c_str()), 0);
    ASSERT_EQ(l.activate(42, 100), 0);
    for (int i = 0; i < 500 && l.received(42) != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(l.received(42), 1) << "no values are coming in";
    amp.model().clearRecord();

    dog.step("unload while values stream");
    ASSERT_EQ(dlclose(l.lib), 0);
    ASSERT_TRUE(amp.model().waitForCommand(cmd::kUnlockInterface, std::chrono::seconds(5), 2));
    std::vector<int> codes;
    for (const auto& cmd : amp.model().commands()) codes.push_back(cmd.code);
    ASSERT_EQ(codes, (std::vector<int>{137, 136, 63, 63}));
    EXPECT_EQ(amp.model().commands()[1].params, (std::vector<std::uint8_t>{0x00, 0x41}));
    EXPECT_EQ(amp.model().reg(cmd::kGetSpecialMode), 0x41u);
}

// 200 values/s, and the full rate of a 38400 bit/s line (768 five-byte frames).
INSTANTIATE_TEST_SUITE_P(Rates, UnloadWhileStreaming, ::testing::Values(200.0, 3840.0 / 5.0),
                         [](const ::testing::TestParamInfo<double>& row) {
                             return std::string(row.param == 200.0 ? "At200" : "AtFullRate");
                         });

// A release by the thread that left an asynchronous write outstanding keeps
// no lock: other threads activate that port and another one, and the library
// unloads.
TEST(Unload, FinishesAfterAReleaseWithAWriteOutstanding) {
    test::Watchdog dog(std::chrono::seconds(20));
    sim::Config c;
    c.level = 3;
    c.reportUndefinedToStderr = false;
    sim::PtyAmplifier first(c), second(c);
    Loaded l;
    ASSERT_TRUE(l.ok()) << dlerror();
    ASSERT_EQ(l.setName(44, first.slavePath().c_str()), 0);
    ASSERT_EQ(l.setName(45, second.slavePath().c_str()), 0);
    ASSERT_EQ(l.activate(44, 100), 0);

    // Far more than a pseudo-terminal holds: the write cannot complete at once.
    const std::vector<unsigned char> big(200000, 0xFF);
    NXTKA_EVENT done{};
    ASSERT_EQ(l.sendAsync(44, big.data(), static_cast<int32_t>(big.size()), &done), 1);
    dog.step("TKArelease with a write outstanding");
    l.release(44);

    dog.step("activations after the release");
    EXPECT_EQ(test::onOtherThread("activation of the released port", 5000, [&] { return l.activate(44, 100); }), 0);
    EXPECT_EQ(test::onOtherThread("activation of another port", 5000, [&] { return l.activate(45, 100); }), 0);
    EXPECT_EQ(l.model(44), 3);
    EXPECT_EQ(l.model(45), 3);
    dog.step("unload");
    EXPECT_EQ(dlclose(l.lib), 0);
    EXPECT_FALSE(first.model().uiLocked());
    EXPECT_FALSE(second.model().uiLocked());
}

}  // namespace
}  // namespace nxtka
