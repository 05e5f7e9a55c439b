// Memory check, version, device names and the opener seam.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace nxtka::platform {
namespace {

TEST(System, IsReadableCatchesNullPointers) {
    const int x = 0;
    EXPECT_TRUE(isReadable(&x, sizeof x));
    EXPECT_FALSE(isReadable(nullptr, 4));
    EXPECT_TRUE(isReadable(nullptr, 0)) << "nothing to read";
}

TEST(System, LibraryFileVersionPacksTheBuildVersion) {
    std::uint32_t high = 0, low = 0;
    ASSERT_TRUE(libraryFileVersion(high, low));
    EXPECT_EQ(high >> 16, static_cast<std::uint32_t>(NXTKA_VERSION_MAJOR));
    EXPECT_EQ(high & 0xFFFFu, static_cast<std::uint32_t>(NXTKA_VERSION_MINOR));
    EXPECT_EQ(low >> 16, static_cast<std::uint32_t>(NXTKA_VERSION_PATCH));
    EXPECT_EQ(low & 0xFFFFu, static_cast<std::uint32_t>(NXTKA_VERSION_TWEAK));
}

TEST(System, DefaultDeviceNames) {
    EXPECT_EQ(defaultDeviceName(0), "/dev/ttyS0");
    EXPECT_EQ(defaultDeviceName(17), "/dev/ttyS17");
}

std::string gAsked;
std::unique_ptr<SerialDevice> refuseAndRemember(const std::string& name) {
    gAsked = name;
    return nullptr;
}

TEST(System, OpenDeviceGoesThroughTheInstalledOpener) {
    gAsked.clear();
    setDeviceOpener(&refuseAndRemember);
    EXPECT_EQ(openDevice("/dev/ttyS3"), nullptr);
    EXPECT_EQ(gAsked, "/dev/ttyS3");
    setDeviceOpener(nullptr);
    gAsked.clear();
    EXPECT_EQ(openDevice("/dev/null"), nullptr) << "the system's opener refuses a non-terminal";
    EXPECT_TRUE(gAsked.empty());
}

}  // namespace
}  // namespace nxtka::platform
