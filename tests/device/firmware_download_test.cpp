#include "device/firmware_download.h"

#include <gtest/gtest.h>

#include <string>

#include "device/command_transport.h"
#include "device/device_fixture.h"
#include "support/scratch_directory.h"

namespace b58 {
namespace {

using testing::Bytes;

class FirmwareTest : public testing::DeviceTest {
  protected:
    std::string WriteImage(size_t size) {
        image_.resize(size);
        for (size_t i = 0; i < size; ++i) image_[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        return scratch_.Write("b58fw.usb", image_);
    }

    b58::testing::ScratchDirectory scratch_;
    std::string image_;
};

TEST_F(FirmwareTest, ShortImageIsPaddedToAWholeUnitAndCompleted) {
    const std::string path = WriteImage(1000);
    ASSERT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 1);

    EXPECT_EQ(controller_->Count(0x200B, false), 64u);
    EXPECT_EQ(controller_->Count(0x200C, true), 64u);
    const Bytes memory = controller_->Memory(0, 4096);
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + 1000), Bytes(image_.begin(), image_.end()));
    for (size_t i = 1000; i < 4096; ++i) ASSERT_EQ(memory[i], 0) << i;

    // Blocks go in address order, each read back before the next is written.
    const auto transfers = controller_->Transfers();
    ASSERT_EQ(transfers.size(), 64u * 2 + 2);
    for (size_t block = 0; block < 64; ++block) {
        EXPECT_EQ(transfers[2 * block].setup.wIndex, block * 64);
        EXPECT_EQ(transfers[2 * block + 1].setup.wValue, 0x200C);
        EXPECT_EQ(transfers[2 * block + 1].setup.wIndex, block * 64);
    }
    const auto complete = controller_->Written(0x2010);
    ASSERT_EQ(complete.size(), 1u);
    Bytes expected(64, 0);
    expected[0] = 0x69;
    expected[1] = 1;
    expected[3] = 0x10;  // 4096
    EXPECT_EQ(complete[0], expected);
}

TEST_F(FirmwareTest, ImageOfWholeUnitsIsSentAsItIs) {
    const std::string path = WriteImage(8192);
    ASSERT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 1);
    EXPECT_EQ(controller_->Count(0x200B, false), 128u);
    const auto complete = controller_->Written(0x2010);
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(GetLe16(&complete[0][2]), 8192);
}

TEST_F(FirmwareTest, ABlockThatReadsBackDifferentlyStopsTheDownload) {
    CaptureTrace();
    const std::string path = WriteImage(8192);
    controller_->CorruptMemoryReadAt(5 * 64);
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 0);
    EXPECT_EQ(controller_->Count(0x200B, false), 6u);
    EXPECT_EQ(controller_->Count(0x2010, false), 0u);  // no download-complete
    EXPECT_EQ(trace_, "");                             // report mode 0 is silent

    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 1, device_, 4, path.c_str()), 0);
    EXPECT_NE(trace_.find("TUVO.LIB: ProcessDownloadFirmware().ZtDownloadFirmware() Fail!"),
              std::string::npos);
}

TEST_F(FirmwareTest, AFailedCompletionFailsTheDownload) {
    const std::string path = WriteImage(100);
    controller_->QueueReply({});  // the completion's reply read brings nothing back
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 0);
    EXPECT_EQ(controller_->Count(0x2010, false), 1u);
}

TEST_F(FirmwareTest, MissingOrEmptyFilesSendNothing) {
    CaptureTrace();
    const std::string missing = scratch_.Name("none.usb");
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, missing.c_str()), 0);
    const std::string empty = scratch_.Write("empty.usb", "");
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 2, device_, 4, empty.c_str()), 0);
    EXPECT_TRUE(controller_->Transfers().empty());
    EXPECT_NE(trace_.find("TUVO.LIB: ProcessDownloadFirmware().ReadFileFromAnyWhere() Fail!"),
              std::string::npos);

    uint8_t buffer[kFirmwareBufferSize];
    DWORD read = 5;
    EXPECT_EQ(ReadFileFromAnyWhere(empty.c_str(), buffer, &read), 0);
    EXPECT_EQ(read, 0u);
}

TEST_F(FirmwareTest, AnImageTooLongForTheTransferLengthIsRejected) {
    CaptureTrace();
    const std::string path = WriteImage(12289);
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 0);
    EXPECT_TRUE(controller_->Transfers().empty());
    EXPECT_NE(trace_.find("The firmware image is too long (12289 bytes)!"), std::string::npos) << trace_;

    // The largest image that fits goes whole.
    const std::string fits = WriteImage(12288);
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, fits.c_str()), 1);
    EXPECT_EQ(controller_->Count(0x200B, false), 192u);
}

TEST(FirmwarePath, WindowsDirectoryWithTheDriverFolderAndFileName) {
    char saved[MAX_PATH] = {};
    GetWindowsDirectoryA(saved, sizeof saved);
    b58::testing::ScratchDirectory windows;
    platform::SetWindowsDirectory(windows.Path().string());
    char path[kFirmwarePathSize];
    ASSERT_TRUE(BuildFirmwarePath(path));
    EXPECT_EQ(std::string(path),
              platform::ToWindowsPath(windows.Path().string()) + "\\system32\\drivers\\b58fw.usb");

    platform::SetWindowsDirectory("/" + std::string(240, 'w'));  // no room for the rest
    EXPECT_FALSE(BuildFirmwarePath(path));
    EXPECT_STREQ(path, "");
    platform::SetWindowsDirectory(platform::ToPosixPath(saved));
}

}  // namespace
}  // namespace b58
