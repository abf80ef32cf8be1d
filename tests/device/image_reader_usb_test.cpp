// The image data reader over the stand-in class driver's bulk reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/image_reader.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan_test_support.h"

namespace b58 {
namespace {

std::vector<uint8_t> Pattern(size_t from, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((from + i) * 13 + (from + i) / 509);
    return bytes;
}

class ImageReaderOverUsb : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTimeScale(0.01);
        platform::SetDebugSink([this](const char* text) { debug_ += text; });
        device_ = test::OpenDeviceHandle(test::FixedName(3));
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseImageReader(Link());
        CloseHandle(device_);
        platform::SetDebugSink(nullptr);
        platform::SetTimeScale(1.0);
    }
    test::FakeUsbBackend& backend() { return fake_.backend(); }

    test::PublishedFake fake_{3};
    HANDLE device_ = INVALID_HANDLE_VALUE;
    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    CommandChannel channel_;
    ImageDataReader reader_;
    std::string debug_;
};

TEST_F(ImageReaderOverUsb, ReadsAWholeScanInLineSizedPieces) {
    const uint32_t lineBytes = 2700;  // a 900-pixel colour line
    const uint32_t total = lineBytes * 120;
    // The controller sends whole 64-byte packets: the stream ends padded to a multiple of 64.
    backend().AppendStream(Pattern(0, total + 32));
    ASSERT_EQ(OpenImageReader(Link(), total, 30720, 5), 1);
    std::vector<uint8_t> line(lineBytes);
    for (uint32_t k = 0; k < 120; ++k) {
        uint32_t delivered = 0;
        ASSERT_EQ(ReadImageBytes(Link(), line.data(), lineBytes, &delivered), 1) << "line " << k;
        ASSERT_EQ(line, Pattern(k * lineBytes, lineBytes)) << "line " << k;
    }
    // 324000 bytes: ten full blocks and 16800 more, read as 16832.
    std::vector<uint32_t> expected(10, 30720);
    expected.push_back(16832);
    EXPECT_EQ(backend().ReadSizes(), expected);
    EXPECT_EQ(CloseImageReader(Link()), 1);
}

TEST_F(ImageReaderOverUsb, StalledStreamFailsTheRequestAndCancelsTheRead) {
    backend().AppendStream(Pattern(0, 30720));  // then the device goes quiet
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    std::vector<uint8_t> block(30720);
    uint32_t delivered = 0;
    ASSERT_EQ(ReadImageBytes(Link(), block.data(), 30720, &delivered), 1);
    EXPECT_EQ(ReadImageBytes(Link(), block.data(), 30720, &delivered), 0);
    EXPECT_NE(debug_.find("!WAIT_OBJECT_0"), std::string::npos);
    EXPECT_GE(backend().CancelCalls(), 1);
}

TEST_F(ImageReaderOverUsb, CloseWhileReadsWaitForData) {
    backend().AppendStream(Pattern(0, 40000));
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    std::vector<uint8_t> bytes(1000);
    uint32_t delivered = 0;
    ASSERT_EQ(ReadImageBytes(Link(), bytes.data(), 1000, &delivered), 1);
    ASSERT_TRUE(backend().WaitForWaitingRead());
    EXPECT_EQ(CloseImageReader(Link()), 1);  // every read is ended before its buffer goes
    // Data arriving afterwards lands nowhere.
    backend().AppendStream(Pattern(40000, 300000));
    for (bool outstanding : reader_.State().SlotOutstanding) EXPECT_FALSE(outstanding);
}

}  // namespace
}  // namespace b58
