// A thousand activations and releases give back every descriptor and thread.
// Memory is checked by the leak checker of the AddressSanitizer build.
#include "support/sim_port.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>

namespace nxtka {
namespace {

using test::eventually;
using test::LineKind;
using test::SimPort;

// Entries of a /proc directory (the directory's own descriptor counts the
// same every time).
int countEntries(const char* path) {
    DIR* d = opendir(path);
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n;
}

constexpr int kCycles = 1000;

TEST(Leaks, ActivationCyclesGiveBackDescriptorsAndThreads) {
    setSettleAfterOpenMs(0);
    sim::Config c;
    // Mostly level 1: no interface lock, so release sends nothing and needs no
    // pauses; every hundredth cycle locks and unlocks it as well.
    c.level = 1;
    c.stream.rate = 0;
    SimPort sp(600, LineKind::Virtual, c, 0);

    const int fdsBefore = countEntries("/proc/self/fd");
    const int threadsBefore = countEntries("/proc/self/task");
    ASSERT_GT(fdsBefore, 0);
    ASSERT_GT(threadsBefore, 0);

    for (int i = 0; i < kCycles; ++i) {
        sp.model().setLevel(i % 100 == 0 ? 3 : 1);
        ASSERT_EQ(sp.activate(16), 0) << "cycle " << i;
        // The data event is a descriptor of its own, closed by the release.
        ASSERT_GT(NXrequestEvent(600), 0) << "cycle " << i;
        if (i % 50 == 0) {
            // Now and then a value through the ring and an asynchronous write.
            ASSERT_EQ(TKAgetValue(600), 0);
            ASSERT_TRUE(eventually([] { return TKAreceived(600) == 1; }));
            double v = 0;
            ASSERT_EQ(TKAread(600, &v), 1);
            const unsigned char b[] = {60};
            NXTKA_EVENT ev = 0;
            ASSERT_EQ(NXasynchronousSendBytes(600, b, 1, &ev), 0);
        }
        if (i == 0) {
            // Everything a session owns exists now.
            EXPECT_GT(countEntries("/proc/self/fd"), fdsBefore);
            EXPECT_GT(countEntries("/proc/self/task"), threadsBefore);
        }
        TKArelease(600);
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fdsBefore);
    // A joined thread is gone at once; allow a moment for the kernel anyway.
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") == threadsBefore; }, 2000))
        << countEntries("/proc/self/task") << " threads, " << threadsBefore << " before";
    EXPECT_EQ(sp.link()->record().opens, kCycles);
    EXPECT_EQ(sp.link()->record().closes, kCycles);
    setSettleAfterOpenMs(250);
}

}  // namespace
}  // namespace nxtka
