// Devices that are not serial ports: activation fails with -1 and a reason,
// gives back every descriptor and thread, and the port can be activated on a
// real line afterwards.
#include "support/proc_counts.h"
#include "support/sim_port.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace nxtka {
namespace {

using test::countEntries;
using test::LineKind;
using test::SimPort;

struct NotSerialRow {
    const char* name;
    const char* kind;  // "null", "file", "directory", "fifo", "missing"
};
void PrintTo(const NotSerialRow& r, std::ostream* os) { *os << r.name; }

class NotSerial : public ::testing::TestWithParam<NotSerialRow> {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nxtka-fault-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        const std::string kind = GetParam().kind;
        if (kind == "null") {
            path_ = "/dev/null";
        } else if (kind == "file") {
            path_ = dir_ + "/file";
            FILE* f = std::fopen(path_.c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fputs("not a serial port\n", f);
            std::fclose(f);
        } else if (kind == "directory") {
            path_ = dir_;
        } else if (kind == "fifo") {
            path_ = dir_ + "/fifo";
            ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
        } else {
            path_ = dir_ + "/missing";
        }
    }
    void TearDown() override {
        // Only what the test made in its own directory goes: never /dev/null.
        if (path_.rfind(dir_ + "/", 0) == 0) unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_;
    std::string path_;
};

TEST_P(NotSerial, ActivationFailsWithAReasonAndLeavesNothingBehind) {
    constexpr unsigned kPort = 40;
    const int fds = countEntries("/proc/self/fd");
    const int threads = test::settledThreadCount();
    ASSERT_EQ(NXsetDeviceName(kPort, path_.c_str()), 0);

    // A device that blocks its opener (a fifo without a writer) must not hang.
    EXPECT_EQ(test::onOtherThread("activation", 10000, [] { return TKAactivate(kPort, 16); }), -1);
    char text[256] = "untouched";
    EXPECT_EQ(test::onOtherThread("the reason", 1000,
                                  [&] {
                                      std::int32_t r = -1;
                                      // The reason is kept per thread: ask on the failing thread.
                                      if (TKAactivate(kPort, 16) == -1) r = NXgetLastFailure(text, sizeof text);
                                      return r;
                                  }),
              NXTKA_FAILURE_DEVICE);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_STRNE(text, "untouched");
    EXPECT_EQ(TKAmodel(kPort), -1);
    EXPECT_EQ(TKAreceived(kPort), -1);
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_TRUE(test::eventually([&] { return countEntries("/proc/self/task") == threads; }, 2000));

    // The same port number works on a real line afterwards.
    setSettleAfterOpenMs(0);
    {
        SimPort sp(kPort, LineKind::Pty);
        EXPECT_EQ(sp.activate(16), 0);
        EXPECT_EQ(TKAmodel(kPort), 3);
    }
    setSettleAfterOpenMs(250);
    NXsetDeviceName(kPort, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Faults, NotSerial,
                         ::testing::Values(NotSerialRow{"DevNull", "null"}, NotSerialRow{"RegularFile", "file"},
                                           NotSerialRow{"Directory", "directory"}, NotSerialRow{"Fifo", "fifo"},
                                           NotSerialRow{"Missing", "missing"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nxtka
