// Time, mutexes, events and threads.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <vector>

namespace nxtka::platform {
namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Runs `f` on another thread and waits for it.
template <typename F>
auto onOtherThread(F f) {
    decltype(f()) result{};
    std::thread t([&] { result = f(); });
    t.join();
    return result;
}

bool fdReadable(std::intptr_t fd) {
    pollfd p{static_cast<int>(fd), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// ---------------------------------------------------------------- time

TEST(Time, TickCountIsMonotonicMillisecondsAndSleepWaitsAtLeastTheTime) {
    std::uint32_t last = tickCount();
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t now = tickCount();
        ASSERT_LT(now - last, 0x80000000u) << "went backwards";
        last = now;
    }
    const std::uint32_t t0 = tickCount();
    const auto c0 = Clock::now();
    sleepMs(60);
    const std::uint32_t ticks = tickCount() - t0;
    const long long real = msSince(c0);
    EXPECT_GE(real, 60);
    EXPECT_LT(real, 3000);
    EXPECT_GE(ticks, 59u);  // both ends truncated to whole milliseconds
    EXPECT_LE(ticks, static_cast<std::uint32_t>(real) + 2) << "not milliseconds";
    sleepMs(0);  // yields and returns
}

// ---------------------------------------------------------------- mutex

TEST(Mutex, IsRecursiveAndOwnedUntilTheLastUnlock) {
    Mutex m;
    m.lock();
    EXPECT_TRUE(m.tryLock());
    EXPECT_TRUE(m.lockFor(10));
    EXPECT_FALSE(onOtherThread([&] { return m.tryLock(); }));
    EXPECT_TRUE(m.unlock());
    EXPECT_TRUE(m.unlock());
    EXPECT_FALSE(onOtherThread([&] { return m.tryLock(); }));
    EXPECT_TRUE(m.unlock());
    EXPECT_FALSE(m.unlock()) << "one unlock too many";
    EXPECT_TRUE(onOtherThread([&] { return m.tryLock() && m.unlock(); }));
}

TEST(Mutex, UnlockByAThreadThatDoesNotOwnItChangesNothing) {
    Mutex m;
    EXPECT_FALSE(m.unlock()) << "nobody owns it";
    m.lock();
    EXPECT_FALSE(onOtherThread([&] { return m.unlock(); }));
    EXPECT_FALSE(onOtherThread([&] { return m.tryLock(); })) << "still owned after the foreign unlock";
    EXPECT_TRUE(m.unlock());
    EXPECT_TRUE(onOtherThread([&] { return m.tryLock() && m.unlock(); }));
}

TEST(Mutex, CreatedOwnedBelongsToTheCreatingThread) {
    Mutex m(true);
    EXPECT_FALSE(onOtherThread([&] { return m.tryLock(); }));
    EXPECT_TRUE(m.unlock());
    EXPECT_TRUE(onOtherThread([&] { return m.tryLock() && m.unlock(); }));
}

TEST(Mutex, LockForTimesOutWhileAnotherThreadHoldsIt) {
    Mutex m;
    Event taken, release;
    std::thread holder([&] {
        m.lock();
        taken.set();
        release.wait(kInfinite);
        m.unlock();
    });
    ASSERT_TRUE(taken.wait(5000));
    const auto t0 = Clock::now();
    EXPECT_FALSE(m.lockFor(200));
    const long long waited = msSince(t0);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(m.lockFor(0));
    release.set();
    EXPECT_TRUE(m.lockFor(5000));
    EXPECT_TRUE(m.unlock());
    holder.join();
}

TEST(Mutex, LockForTakesTheMutexReleasedDuringTheWait) {
    Mutex m;
    Event taken;
    int guarded = 0;  // written under the mutex by both threads
    std::thread holder([&] {
        m.lock();
        taken.set();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        guarded = 1;
        m.unlock();
    });
    ASSERT_TRUE(taken.wait(5000));
    ASSERT_TRUE(m.lockFor(5000));
    EXPECT_EQ(guarded, 1);
    guarded = 2;
    EXPECT_FALSE(onOtherThread([&] { return m.lockFor(50); })) << "owned by this thread now";
    EXPECT_TRUE(m.unlock());
    holder.join();
}

TEST(LockBoth, TakesBothOrNeither) {
    Mutex a, b;
    ASSERT_TRUE(lockBoth(a, b, 1000));
    EXPECT_FALSE(onOtherThread([&] { return a.tryLock(); }));
    EXPECT_FALSE(onOtherThread([&] { return b.tryLock(); }));
    EXPECT_TRUE(a.unlock());
    EXPECT_TRUE(b.unlock());

    // The same mutex twice is one recursive lock taken twice.
    ASSERT_TRUE(lockBoth(a, a));
    EXPECT_TRUE(a.unlock());
    EXPECT_TRUE(a.unlock());
    EXPECT_FALSE(a.unlock());
}

TEST(LockBoth, TimesOutWithoutHoldingEitherWhenOneIsBusy) {
    Mutex a, b;
    Event taken, release;
    std::thread holder([&] {
        b.lock();
        taken.set();
        release.wait(kInfinite);
        b.unlock();
    });
    ASSERT_TRUE(taken.wait(5000));
    const auto t0 = Clock::now();
    EXPECT_FALSE(lockBoth(a, b, 200));
    const long long waited = msSince(t0);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(a.unlock()) << "a must not stay locked after the time-out";
    EXPECT_TRUE(onOtherThread([&] { return a.tryLock() && a.unlock(); }));

    // Unbounded: completes once the holder lets go.
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set();
    });
    EXPECT_TRUE(lockBoth(a, b));
    EXPECT_TRUE(a.unlock());
    EXPECT_TRUE(b.unlock());
    later.join();
    holder.join();
}

TEST(LockBoth, TwoThreadsLockingInOppositeOrderDoNotDeadlock) {
    Mutex a, b;
    int shared = 0;  // guarded by both; the thread sanitizer checks that
    constexpr int kRounds = 500;
    std::atomic<int> finished{0};
    auto worker = [&](Mutex& first, Mutex& second) {
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_TRUE(lockBoth(first, second));
            ++shared;
            first.unlock();
            second.unlock();
            // Interleave with a plain lock of one of them now and then.
            if (i % 16 == 0) {
                second.lock();
                second.unlock();
            }
        }
        finished.fetch_add(1);
    };
    std::thread t1(worker, std::ref(a), std::ref(b));
    std::thread t2(worker, std::ref(b), std::ref(a));
    t1.join();
    t2.join();
    EXPECT_EQ(finished.load(), 2);
    EXPECT_EQ(shared, 2 * kRounds);
}

// ---------------------------------------------------------------- events

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e;
    EXPECT_FALSE(e.isSet());
    const auto t0 = Clock::now();
    EXPECT_FALSE(e.wait(100));
    const long long waited = msSince(t0);
    EXPECT_GE(waited, 95);
    EXPECT_LT(waited, 3000);
    e.set();
    EXPECT_TRUE(e.isSet());
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(kInfinite)) << "a wait does not consume the signal";
    e.set();
    e.reset();
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0));

    Event initially(false, true);
    EXPECT_TRUE(initially.isSet());
    EXPECT_EQ(initially.nativeHandle(), 0) << "not pollable: no descriptor";
}

TEST(Event, WaitWakesWhenAnotherThreadSets) {
    Event e;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        e.set();
    });
    EXPECT_TRUE(e.wait(10000));
    setter.join();
}

TEST(Event, PollableDescriptorIsReadableExactlyWhileSet) {
    Event e(true);
    const std::intptr_t fd = e.nativeHandle();
    ASSERT_GE(fd, 3);
    EXPECT_NE(fcntl(static_cast<int>(fd), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(static_cast<int>(fd), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_FALSE(fdReadable(fd));
    for (int round = 0; round < 3; ++round) {
        e.set();
        EXPECT_TRUE(fdReadable(fd));
        e.set();
        EXPECT_TRUE(fdReadable(fd));
        EXPECT_TRUE(e.wait(0));
        EXPECT_TRUE(fdReadable(fd)) << "waiting does not clear it";
        e.reset();
        EXPECT_FALSE(fdReadable(fd));
        e.reset();
        EXPECT_FALSE(fdReadable(fd));
    }
    Event initially(true, true);
    EXPECT_TRUE(fdReadable(initially.nativeHandle()));
    EXPECT_NE(initially.nativeHandle(), fd);
}

TEST(Event, WaitAnyReportsTheSignalledOneOrTimesOut) {
    Event a, b, c;
    Event* events[] = {&a, nullptr, &b, &c};
    const auto t0 = Clock::now();
    EXPECT_EQ(waitAny(events, 4, 100), -1);
    const long long waited = msSince(t0);
    EXPECT_GE(waited, 95);
    EXPECT_LT(waited, 3000);

    c.set();
    EXPECT_EQ(waitAny(events, 4, 0), 3);
    b.set();
    EXPECT_EQ(waitAny(events, 4, kInfinite), 2) << "the lowest signalled index";
    b.reset();
    c.reset();

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        b.set();
    });
    EXPECT_EQ(waitAny(events, 4, 10000), 2);
    setter.join();

    // Setting events after waitAny returned must not touch its finished wait.
    a.set();
    c.set();
    Event* none[] = {nullptr, nullptr};
    EXPECT_EQ(waitAny(none, 2, 10), -1);
}

TEST(Event, SeveralWaitersOnOneEventAllWake) {
    Event shared, other0, other1;
    std::atomic<int> woke{0};
    auto waiter = [&](Event* other) {
        Event* events[] = {other, &shared};
        if (waitAny(events, 2, 10000) == 1) woke.fetch_add(1);
    };
    std::thread w0(waiter, &other0);
    std::thread w1(waiter, &other1);
    std::thread w2([&] {
        if (shared.wait(10000)) woke.fetch_add(1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    shared.set();
    w0.join();
    w1.join();
    w2.join();
    EXPECT_EQ(woke.load(), 3);
}

// ---------------------------------------------------------------- threads

TEST(Thread, JoinAfterTheThreadEnded) {
    std::atomic<int> ran{0};
    Thread t;
    EXPECT_FALSE(t.running());
    ASSERT_TRUE(t.start([](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, &ran, 16 * 1024));
    while (t.running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(t.join(0));
    EXPECT_TRUE(t.join(1000)) << "join again";
    EXPECT_EQ(ran.load(), 1);
    // A joined thread object can run again.
    ASSERT_TRUE(t.start([](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, &ran, 64 * 1024));
    EXPECT_TRUE(t.join(kInfinite));
    EXPECT_EQ(ran.load(), 2);
}

TEST(Thread, JoinTimesOutWhileTheThreadRuns) {
    Event release;
    Thread t;
    ASSERT_TRUE(t.start([](void* p) { static_cast<Event*>(p)->wait(kInfinite); }, &release, 64 * 1024));
    EXPECT_TRUE(t.running());
    EXPECT_FALSE(t.start([](void*) {}, nullptr, 64 * 1024)) << "already running";
    const auto t0 = Clock::now();
    EXPECT_FALSE(t.join(150));
    const long long waited = msSince(t0);
    EXPECT_GE(waited, 145);
    EXPECT_LT(waited, 3000);
    EXPECT_TRUE(t.running());
    release.set();
    EXPECT_TRUE(t.join(10000));
    EXPECT_FALSE(t.running());
}

TEST(Thread, DestructorWaitsForTheThread) {
    std::atomic<bool> done{false};
    {
        Thread t;
        ASSERT_TRUE(t.start(
            [](void* p) {
                sleepMs(30);
                static_cast<std::atomic<bool>*>(p)->store(true);
            },
            &done, 64 * 1024));
    }
    EXPECT_TRUE(done.load());
}

TEST(Thread, UsesTheRequestedStack) {
    // 256 KiB on the stack of a thread asked for 1 MiB.
    struct Probe {
        static void run(void* p) {
            volatile std::uint8_t big[256 * 1024];
            for (std::size_t i = 0; i < sizeof big; i += 4096) big[i] = static_cast<std::uint8_t>(i / 4096);
            *static_cast<int*>(p) = big[4096];
        }
    };
    int out = -1;
    Thread t;
    ASSERT_TRUE(t.start(&Probe::run, &out, 1024 * 1024));
    EXPECT_TRUE(t.join(10000));
    EXPECT_EQ(out, 1);
}

}  // namespace
}  // namespace nxtka::platform
