// Memory check, version, device names and the opener seam.
#include "platform/platform.h"
#include "platform/posix_readable.h"
#include "support/two_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace nxtka::platform {
namespace {

struct ReadCase {
    const char* what;
    std::ptrdiff_t fromEnd;  // start, relative to the end of the readable page
    std::size_t bytes;
    bool readable;
};

// Each case reaches exactly `bytes` bytes, so one byte more or less decides.
const ReadCase kReadCases[] = {
    {"the whole readable page", -4096, 4096, true},
    {"the last 8 bytes", -8, 8, true},
    {"16 bytes from 8 before the end", -8, 16, false},
    {"the last byte", -1, 1, true},
    {"the last byte and the next", -1, 2, false},
    {"inside the second page", 0, 4, false},
    {"deep inside the second page", 100, 1, false},
};

class Readability : public ::testing::TestWithParam<bool> {};

TEST_P(Readability, ExactlyTheGivenBytesAreTested) {
    test::TwoPages pages(GetParam());
    ASSERT_TRUE(pages.ok());
    ASSERT_EQ(pages.page(), 4096u) << "the cases assume 4 KiB pages";
    bool vmReadWorks = true;
    for (const ReadCase& c : kReadCases) {
        const unsigned char* p = pages.end() + c.fromEnd;
        EXPECT_EQ(isReadable(p, c.bytes), c.readable) << c.what;
        const Probe want = c.readable ? Probe::Readable : Probe::Unreadable;
        EXPECT_EQ(probeByPipe(p, c.bytes), want) << c.what;
        const Probe vm = probeByVmRead(p, c.bytes);
        if (vm == Probe::Unavailable) {
            vmReadWorks = false;
        } else {
            EXPECT_EQ(vm, want) << c.what;
        }
    }
    if (!vmReadWorks) GTEST_SKIP() << "process_vm_readv is refused here; only the pipe probe was checked";
}

INSTANTIATE_TEST_SUITE_P(SecondPage, Readability, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Unmapped" : "NoAccess"; });

TEST(System, NullAndSmallAddressesAreUnreadable) {
    EXPECT_FALSE(isReadable(nullptr, 4));
    EXPECT_FALSE(isReadable(reinterpret_cast<const void*>(0x10), 4));
    EXPECT_FALSE(isReadable(reinterpret_cast<const void*>(~std::uintptr_t{0} - 1), 4)) << "wraps around";
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
