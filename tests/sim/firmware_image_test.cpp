#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "sim/firmware_image.h"

namespace b58::sim {
namespace {

TEST(FirmwareImage, Crc32MatchesTheCommonCheckValue) {
    const std::string text = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0xCBF43926u);
}

TEST(FirmwareImage, ImageIsDeterministicAndFitsTheHostTransfer) {
    const std::vector<uint8_t> image = BuildFirmwareImage();
    EXPECT_EQ(image, BuildFirmwareImage());
    EXPECT_NE(image, BuildFirmwareImage(kFirmwareDefaultSeed + 1));
    EXPECT_EQ(image.size(), kFirmwareDefaultSize);
    EXPECT_LE(image.size(), 12288u);
    EXPECT_EQ(CheckFirmwareImage(image.data(), image.size()), FirmwareCheck::Ok);
}

TEST(FirmwareImage, CheckAcceptsZeroPaddingAndRejectsDamage) {
    std::vector<uint8_t> memory = BuildFirmwareImage();
    const size_t size = memory.size();
    memory.resize(12288, 0);  // the host rounds the file up to whole 4096-byte units
    EXPECT_EQ(CheckFirmwareImage(memory.data(), memory.size()), FirmwareCheck::Ok);
    EXPECT_EQ(CheckFirmwareImage(memory.data(), size - 64), FirmwareCheck::Truncated);

    std::vector<uint8_t> damaged = memory;
    damaged[5000] ^= 0x01;
    EXPECT_EQ(CheckFirmwareImage(damaged.data(), damaged.size()), FirmwareCheck::BadChecksum);
    damaged = memory;
    damaged[size - 1] ^= 0x80;  // the checksum itself
    EXPECT_EQ(CheckFirmwareImage(damaged.data(), damaged.size()), FirmwareCheck::BadChecksum);
    damaged = memory;
    damaged[12000] = 0x55;
    EXPECT_EQ(CheckFirmwareImage(damaged.data(), damaged.size()), FirmwareCheck::NonZeroPadding);
    damaged = memory;
    damaged[10] = 0x01;  // a stated length beyond what was sent
    EXPECT_EQ(CheckFirmwareImage(damaged.data(), damaged.size()), FirmwareCheck::Truncated);

    const std::vector<uint8_t> blank(12288, 0);
    EXPECT_EQ(CheckFirmwareImage(blank.data(), blank.size()), FirmwareCheck::BadMagic);
    EXPECT_EQ(CheckFirmwareImage(memory.data(), 4), FirmwareCheck::BadMagic);
}

TEST(FirmwareImage, BuildWritesTheShippedFile) {
    std::ifstream file(B58_TEST_FIRMWARE_FILE, std::ios::binary);
    ASSERT_TRUE(file) << B58_TEST_FIRMWARE_FILE;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, BuildFirmwareImage());
}

}  // namespace
}  // namespace b58::sim
