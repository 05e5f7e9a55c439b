// Unloading the shared library closes every port that is still active, in
// port order: the amplifiers get their user interfaces unlocked and the
// devices are free again.
#include "nxtka.h"
#include "pty_amplifier.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <memory>

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

    ASSERT_TRUE(low.model().waitForCommand(63, std::chrono::seconds(2), 2));
    ASSERT_TRUE(high.model().waitForCommand(63, std::chrono::seconds(2), 2));
    const auto lowLast = low.model().commands().back().at;
    const auto highFirst = high.model().commands().front().at;
    EXPECT_LT(lowLast, highFirst);  // port 40 was closed before port 41
    EXPECT_FALSE(low.model().uiLocked());
    EXPECT_FALSE(high.model().uiLocked());
}

}  // namespace
}  // namespace nxtka
