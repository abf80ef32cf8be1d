#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

TEST(PathForms, WindowsFormMapsToPosixAndBack) {
    EXPECT_EQ(ToPosixPath("C:\\Windows\\system32\\drivers\\b58fw.usb"),
              "/Windows/system32/drivers/b58fw.usb");
    EXPECT_EQ(ToPosixPath("z:\\tmp\\x"), "/tmp/x");
    EXPECT_EQ(ToPosixPath("\\opt\\b58\\ztb58.ini"), "/opt/b58/ztb58.ini");
    EXPECT_EQ(ToPosixPath("/already/posix"), "/already/posix");
    EXPECT_EQ(ToPosixPath("relative\\name"), "relative/name");
    EXPECT_EQ(ToPosixPath(nullptr), "");
    EXPECT_EQ(ToWindowsPath("/opt/b58/ztb58.ini"), "\\opt\\b58\\ztb58.ini");
}

class WindowsDirectory : public ::testing::Test {
  protected:
    void TearDown() override { SetWindowsDirectory(""); }
};

TEST_F(WindowsDirectory, AnswersTheChosenFolderInWindowsForm) {
    SetWindowsDirectory("/srv/win/");
    char buffer[255];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "\\srv\\win");

    // The firmware path the driver builds from it names a file in that folder.
    lstrcatA(buffer, "\\system32\\drivers\\");
    lstrcatA(buffer, "b58fw.usb");
    EXPECT_EQ(ToPosixPath(buffer), "/srv/win/system32/drivers/b58fw.usb");
}

TEST_F(WindowsDirectory, ShortBufferGetsTheNeededSizeAndIsLeftAlone) {
    SetWindowsDirectory("/srv/win");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 9u);  // 8 characters + terminator
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), 9u);
}

TEST_F(WindowsDirectory, RelativeFolderIsMadeAbsolute) {
    SetWindowsDirectory("some/where");
    char buffer[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], '\\');
    EXPECT_TRUE(std::string(buffer).ends_with("\\some\\where")) << buffer;
}

}  // namespace
}  // namespace b58::platform
