// Explanations for devices the library cannot use, on real paths: missing
// files, plain files, directories, a device that is not a terminal, and
// pseudo-terminals free or locked.
#include "device_check.h"
#include "nxtka.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace nxtka_cli {
namespace {

bool contains(const std::optional<std::string>& text, const std::string& part) {
    return text && text->find(part) != std::string::npos;
}

// What the tool does: an activation on `path` that fails, then the explanation.
std::optional<std::string> explainActivation(const std::string& path) {
    constexpr unsigned kPort = 977;
    NXsetDeviceName(kPort, path.c_str());
    const int32_t result = TKAactivate(kPort, 16);
    NXsetDeviceName(kPort, nullptr);
    if (result == 0) {
        TKArelease(kPort);
        return "activation succeeded";
    }
    return explainOpenFailure(path);
}

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nxtka-cli-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string dir_;
};

TEST_F(ScratchDir, PathsThatAreNoDevicesAreNamedForWhatTheyAre) {
    const std::string missing = dir_ + "/ttyUSB9";
    EXPECT_TRUE(contains(precheckDevice(missing), missing + " does not exist"));

    const std::string plain = dir_ + "/plain";
    std::FILE* f = std::fopen(plain.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(contains(precheckDevice(plain), "is not a character device"));
    EXPECT_TRUE(contains(explainActivation(plain), "is not a character device"));

    EXPECT_TRUE(contains(precheckDevice(dir_), "is a directory"));

    const std::string dangling = dir_ + "/link";
    ASSERT_EQ(::symlink(missing.c_str(), dangling.c_str()), 0);
    EXPECT_TRUE(contains(precheckDevice(dangling), "symbolic link to nothing"));

    EXPECT_TRUE(contains(precheckDevice(""), "no device name"));
}

TEST(DeviceCheck, CharacterDeviceThatIsNoTerminal) {
    EXPECT_FALSE(precheckDevice("/dev/null").has_value());
    EXPECT_TRUE(contains(explainActivation("/dev/null"), "/dev/null is not a serial port"));
}

struct Pty {
    Pty() {
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) master = slave = -1;
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    int master = -1, slave = -1;
    char name[128] = {};
};

TEST(DeviceCheck, FreePseudoTerminalWithoutAmplifierHasNothingToExplain) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    EXPECT_FALSE(precheckDevice(pty.name).has_value());
    EXPECT_FALSE(explainActivation(pty.name).has_value());  // no answer: the amplifier's matter
}

TEST(DeviceCheck, LockedPseudoTerminalIsInUse) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const int holder = ::open(pty.name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(contains(explainActivation(pty.name), std::string(pty.name) + " is in use by another process"));
    ::close(holder);
    // The lock went with the descriptor: the library's own reason is all there is.
    EXPECT_EQ(explainOpenFailure(pty.name).value_or(""),
              "cannot open " + std::string(pty.name) + ": Device or resource busy");
}

}  // namespace
}  // namespace nxtka_cli
