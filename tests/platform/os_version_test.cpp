#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform_control.h"
#include "platform/win32.h"
#ifndef _WIN32
#include "platform/posix/os_version.h"
#endif

namespace b58::test {
namespace {

TEST(OsVersionTest, AnswersBothRecordSizesAndRefusesOthers) {
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof(extended);
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)));
    EXPECT_NE(extended.dwMajorVersion, 0u);

    // The basic record is written within its 148 bytes.
    struct {
        OSVERSIONINFOA info;
        unsigned char after[16];
    } basic;
    std::memset(&basic, 0xAB, sizeof(basic));
    basic.info.dwOSVersionInfoSize = sizeof(basic.info);
    EXPECT_TRUE(GetVersionExA(&basic.info));
    EXPECT_EQ(basic.info.dwMajorVersion, extended.dwMajorVersion);
    EXPECT_EQ(basic.info.dwPlatformId, extended.dwPlatformId);
    for (unsigned char byte : basic.after) EXPECT_EQ(byte, 0xAB);

    for (DWORD size : {0u, 100u, 147u, 157u}) {
        OSVERSIONINFOEXA record{};
        record.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record))) << size;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << size;
    }
}

#ifndef _WIN32
class ChosenOsVersionTest : public testing::Test {
  protected:
    void TearDown() override { platform::ResetOsVersion(); }

    static OSVERSIONINFOA Ask() {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwMajorVersion = 0xDEAD;
        if (!GetVersionExA(&info)) info.dwMajorVersion = 0xDEAD;
        return info;
    }
};

TEST_F(ChosenOsVersionTest, DefaultIsAModernNt) {
    OSVERSIONINFOA info = Ask();
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
}

TEST_F(ChosenOsVersionTest, AnswersTheChosenVersionOrFails) {
    platform::SetOsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    OSVERSIONINFOA info = Ask();
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 10u);

    platform::SetOsVersion(VER_PLATFORM_WIN32_NT, 5, 1, true);
    EXPECT_EQ(Ask().dwMajorVersion, 0xDEADu);
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof(extended);
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) << "both record sizes fail";

    platform::ResetOsVersion();
    EXPECT_EQ(Ask().dwMajorVersion, 10u);
}

TEST(OsVersionSettingTest, ReadsPlatformMajorAndMinor) {
    auto parsed = platform::ParseOsVersion("2.5.1");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->platformId, 2u);
    EXPECT_EQ(parsed->major, 5u);
    EXPECT_EQ(parsed->minor, 1u);
    EXPECT_FALSE(parsed->failing);
    parsed = platform::ParseOsVersion("1.4.90");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->minor, 90u);
    parsed = platform::ParseOsVersion("fail");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(parsed->failing);

    for (const char* bad : {"", "2", "2.5", "2.5.1.", "2.5.1.0", "2..1", "a.b.c", "-1.5.1", "2. 5.1",
                            "2.5.1x", "99999999999.5.1"}) {
        EXPECT_FALSE(platform::ParseOsVersion(bad).has_value()) << bad;
    }
}
#endif

}  // namespace
}  // namespace b58::test
