// The in-process serial line and its faults.
#include "platform/virtual_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <thread>

namespace nxtka::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

ReadResult readInto(SerialDevice& d, Bytes& out, std::uint32_t min, std::uint32_t max) {
    Bytes buf(max);
    const ReadResult r = d.read(buf.data(), min, max);
    if (r.status == ReadResult::Ok) out.insert(out.end(), buf.begin(), buf.begin() + r.count);
    return r;
}

Bytes peerTake(VirtualLink& link, std::size_t max, std::uint32_t ms) {
    Bytes buf(max);
    buf.resize(link.peerRead(buf.data(), max, ms));
    return buf;
}

class Virtual : public ::testing::Test {
protected:
    void SetUp() override {
        link = VirtualLink::create();
        link->registerAs(kName);
        device = VirtualLink::open(kName);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override {
        device.reset();
        VirtualLink::unregister(kName);
    }
    VirtualLink::Faults faults() const { return link->faults(); }

    static constexpr const char* kName = "virtual-test-line";
    std::shared_ptr<VirtualLink> link;
    std::unique_ptr<SerialDevice> device;
};

// ---------------------------------------------------------------- registry

TEST(VirtualRegistry, NamesOpenTheirLinkExclusively) {
    auto link = VirtualLink::create();
    link->registerAs("virtual-a");
    setDeviceOpener(&VirtualLink::open);
    auto d = openDevice("virtual-a");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(link->record().open);
    EXPECT_EQ(link->record().opens, 1);
    EXPECT_EQ(openDevice("virtual-a"), nullptr) << "already open";
    d.reset();
    EXPECT_FALSE(link->record().open);
    EXPECT_EQ(link->record().closes, 1);
    d = openDevice("virtual-a");
    EXPECT_NE(d, nullptr);
    d.reset();

    // A later registration of the name replaces the earlier one.
    auto other = VirtualLink::create();
    other->registerAs("virtual-a");
    d = openDevice("virtual-a");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(other->record().opens, 1);
    EXPECT_EQ(link->record().opens, 2);
    d.reset();

    VirtualLink::unregister("virtual-a");
    EXPECT_EQ(openDevice("virtual-a"), nullptr) << "no link and no such system device";
    setDeviceOpener(nullptr);
}

TEST(VirtualRegistry, OpenFailsWhenAskedToAndWhenTheLinkIsGone) {
    auto link = VirtualLink::create();
    link->registerAs("virtual-b");
    VirtualLink::Faults f;
    f.openFails = true;
    link->setFaults(f);
    EXPECT_EQ(VirtualLink::open("virtual-b"), nullptr);
    EXPECT_EQ(link->record().opens, 0);
    link.reset();
    EXPECT_EQ(VirtualLink::open("virtual-b"), nullptr);
    VirtualLink::unregister("virtual-b");
}

// ---------------------------------------------------------------- data

TEST_F(Virtual, ReadsWaitForMinAndHandOverUpToMax) {
    link->peerWrite({1, 2, 3});
    std::atomic<bool> finished{false};
    Bytes got;
    ReadResult r{};
    std::thread reader([&] {
        r = readInto(*device, got, 5, 6);
        finished.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(finished.load());
    link->peerWrite({4, 5, 6, 7, 8});
    reader.join();
    ASSERT_EQ(r.status, ReadResult::Ok);
    EXPECT_EQ(r.count, 6u);
    EXPECT_EQ(link->inputPending(), 2u);
    ASSERT_EQ(readInto(*device, got, 1, 64).status, ReadResult::Ok);
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(Virtual, WritesReachThePeerAndStayRecorded) {
    const Bytes a = {0x10, 0x20}, b = {0x30};
    ASSERT_EQ(device->startWrite(a.data(), 2).status, WriteStart::Completed);
    ASSERT_EQ(device->startWrite(b.data(), 1).status, WriteStart::Completed);
    EXPECT_EQ(peerTake(*link, 2, 1000), a);
    EXPECT_EQ(peerTake(*link, 64, 1000), b);
    EXPECT_EQ(link->written(), (Bytes{0x10, 0x20, 0x30}));

    const auto t0 = Clock::now();
    EXPECT_TRUE(peerTake(*link, 64, 100).empty());
    EXPECT_GE(msSince(t0), 95);

    // close() wakes a waiting peer for good.
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        link->close();
    });
    EXPECT_TRUE(peerTake(*link, 64, kInfinite).empty());
    closer.join();
    ASSERT_EQ(device->startWrite(a.data(), 2).status, WriteStart::Completed);
    EXPECT_TRUE(peerTake(*link, 64, 1000).empty());
}

TEST_F(Virtual, PurgeAbortsAndClears) {
    ReadResult r{};
    std::thread reader([&] {
        std::uint8_t b[4];
        r = device->read(b, 1, 4);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(device->purge(kPurgeRxAbort));
    reader.join();
    EXPECT_EQ(r.status, ReadResult::Aborted);
    EXPECT_EQ(r.error, errorCodes().aborted);

    // Between reads: the next read ends Aborted once, the data stays.
    link->peerWrite({7});
    ASSERT_TRUE(device->purge(kPurgeRxAbort));
    Bytes got;
    EXPECT_EQ(readInto(*device, got, 1, 4).status, ReadResult::Aborted);
    EXPECT_EQ(readInto(*device, got, 1, 4).status, ReadResult::Ok);
    EXPECT_EQ(got, Bytes{7});

    link->peerWrite({8, 9});
    ASSERT_TRUE(device->purge(kPurgeRxClear));
    EXPECT_EQ(link->inputPending(), 0u);
    EXPECT_EQ(link->record().purges, 3);
    EXPECT_EQ(link->record().lastPurgeFlags, unsigned{kPurgeRxClear});
}

TEST_F(Virtual, SettingsAndQueueSizesAreRecorded) {
    LineSettings ls;
    ls.baudRate = 115200;
    ls.rts = LineSettings::Control::Handshake;
    ASSERT_TRUE(device->setLineSettings(ls));
    LineSettings back;
    ASSERT_TRUE(device->getLineSettings(back));
    EXPECT_EQ(back.baudRate, 115200u);
    EXPECT_EQ(back.rts, LineSettings::Control::Handshake);
    ASSERT_TRUE(device->setQueueSizes(1000, 2000));
    const VirtualLink::Record rec = link->record();
    EXPECT_EQ(rec.settingsApplied, 1);
    EXPECT_EQ(rec.settings.baudRate, 115200u);
    EXPECT_EQ(rec.inQueue, 1000u);
    EXPECT_EQ(rec.outQueue, 2000u);
}

// ---------------------------------------------------------------- faults

TEST_F(Virtual, FlushFailsWithTheConfiguredError) {
    std::uint32_t error = 1;
    EXPECT_TRUE(device->flush(error));
    EXPECT_EQ(error, 0u);
    VirtualLink::Faults f = faults();
    f.flushError = errorCodes().invalidFunction;
    link->setFaults(f);
    EXPECT_FALSE(device->flush(error));
    EXPECT_EQ(error, errorCodes().invalidFunction);
    EXPECT_EQ(link->record().flushes, 2);
}

TEST_F(Virtual, WriteErrorFailsWithoutSending) {
    VirtualLink::Faults f = faults();
    f.writeError = 5;
    link->setFaults(f);
    const std::uint8_t byte = 1;
    const WriteStart w = device->startWrite(&byte, 1);
    EXPECT_EQ(w.status, WriteStart::Failed);
    EXPECT_EQ(w.error, 5u);
    EXPECT_TRUE(link->written().empty());
    EXPECT_TRUE(device->writeDone().isSet()) << "nothing in flight";
}

TEST_F(Virtual, ShortWriteTakesOnlyPartOfTheBytes) {
    VirtualLink::Faults f = faults();
    f.shortWrite = 3;
    link->setFaults(f);
    const Bytes data = {1, 2, 3, 4, 5};
    const WriteStart w = device->startWrite(data.data(), 5);
    EXPECT_EQ(w.status, WriteStart::Completed);
    EXPECT_EQ(w.count, 3u);
    EXPECT_EQ(link->written(), (Bytes{1, 2, 3}));
}

TEST_F(Virtual, HeldWritesStayPendingUntilReleased) {
    VirtualLink::Faults f = faults();
    f.holdWrites = true;
    link->setFaults(f);
    Event& done = device->writeDone();
    ASSERT_GT(done.nativeHandle(), 0);
    const Bytes data = {4, 5, 6};
    ASSERT_EQ(device->startWrite(data.data(), 3).status, WriteStart::Pending);
    EXPECT_FALSE(done.isSet());
    pollfd p{static_cast<int>(done.nativeHandle()), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    EXPECT_TRUE(peerTake(*link, 8, 30).empty()) << "held bytes are not on the line yet";

    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        link->completePendingWrite();
    });
    std::uint32_t transferred = 0;
    EXPECT_TRUE(device->waitWrite(transferred));
    peer.join();
    EXPECT_EQ(transferred, 3u);
    EXPECT_TRUE(done.isSet());
    EXPECT_EQ(poll(&p, 1, 0), 1);
    EXPECT_EQ(peerTake(*link, 8, 1000), data);

    // Clearing the fault releases a held write too; a purge ends one as failed.
    ASSERT_EQ(device->startWrite(data.data(), 2).status, WriteStart::Pending);
    f.holdWrites = false;
    link->setFaults(f);
    EXPECT_TRUE(done.wait(1000));
    EXPECT_TRUE(device->waitWrite(transferred));
    EXPECT_EQ(transferred, 2u);
    f.holdWrites = true;
    link->setFaults(f);
    ASSERT_EQ(device->startWrite(data.data(), 1).status, WriteStart::Pending);
    ASSERT_TRUE(device->purge(kPurgeTxAbort));
    EXPECT_TRUE(done.isSet());
    EXPECT_FALSE(device->waitWrite(transferred));
    EXPECT_EQ(link->written(), (Bytes{4, 5, 6, 4, 5}));
}

TEST_F(Virtual, InjectedReadErrorEndsOneRead) {
    ReadResult r{};
    std::thread reader([&] {
        std::uint8_t b[4];
        r = device->read(b, 1, 4);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    link->injectReadError(31);
    reader.join();
    EXPECT_EQ(r.status, ReadResult::Failed);
    EXPECT_EQ(r.error, 31u);
    link->peerWrite({1});
    Bytes got;
    EXPECT_EQ(readInto(*device, got, 1, 4).status, ReadResult::Ok);
    EXPECT_EQ(got, Bytes{1});
}

TEST_F(Virtual, HangUpFailsPendingAndLaterTransfers) {
    ReadResult r{};
    std::thread reader([&] {
        std::uint8_t b[4];
        r = device->read(b, 2, 4);
    });
    link->peerWrite({1});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    link->hangUp();
    reader.join();
    EXPECT_EQ(r.status, ReadResult::Failed);
    EXPECT_EQ(r.error, static_cast<std::uint32_t>(EIO));
    for (int i = 0; i < 3; ++i) {
        std::uint8_t b[4];
        EXPECT_EQ(device->read(b, 1, 4).status, ReadResult::Failed);
    }
    const std::uint8_t byte = 0;
    EXPECT_EQ(device->startWrite(&byte, 1).status, WriteStart::Failed);
    std::uint32_t error = 0;
    EXPECT_FALSE(device->flush(error));
    EXPECT_NE(error, 0u);
}

TEST_F(Virtual, ModemLinesFollowTheFaults) {
    std::uint32_t bits = 0;
    ASSERT_TRUE(device->modemStatus(bits));
    EXPECT_EQ(bits & kModemCts, unsigned{kModemCts});
    VirtualLink::Faults f = faults();
    f.cts = false;
    link->setFaults(f);
    ASSERT_TRUE(device->modemStatus(bits));
    EXPECT_EQ(bits & kModemCts, 0u);
    f.modemLines = false;
    link->setFaults(f);
    EXPECT_FALSE(device->modemStatus(bits));
}

TEST_F(Virtual, LineSettingsCanFail) {
    VirtualLink::Faults f = faults();
    f.lineSettingsFail = true;
    link->setFaults(f);
    EXPECT_FALSE(device->setLineSettings(LineSettings{}));
    EXPECT_EQ(link->record().settingsApplied, 0);
    f.lineSettingsFail = false;
    f.getLineSettingsFail = true;
    link->setFaults(f);
    LineSettings ls;
    EXPECT_FALSE(device->getLineSettings(ls));
    EXPECT_TRUE(device->setLineSettings(ls));
    EXPECT_EQ(link->record().settingsApplied, 1);
}

}  // namespace
}  // namespace nxtka::platform
