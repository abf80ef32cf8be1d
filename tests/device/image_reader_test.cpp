#include "device/image_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/scanner_link.h"
#include "fake_stream_device.h"
#include "platform/platform_control.h"

namespace b58 {
namespace {

using testing::FakeStreamDevice;
using testing::StreamByte;

class ImageReader : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTimeScale(0.01);
        platform::SetDebugSink([this](const char* text) { debug_ += text; });
        handle_ = platform::InsertHandle(device_);
    }
    void TearDown() override {
        CloseImageReader(Link());
        CloseHandle(handle_);
        platform::SetDebugSink(nullptr);
        platform::SetTimeScale(1.0);
    }

    // Reads `count` bytes and checks they continue the stream at `offset_`.
    ::testing::AssertionResult ReadAndCheck(uint32_t count) {
        std::vector<uint8_t> bytes(count, 0xEE);
        uint32_t delivered = 0;
        if (ReadImageBytes(Link(), bytes.data(), count, &delivered) != 1) {
            return ::testing::AssertionFailure() << "read of " << count << " at " << offset_ << " failed";
        }
        if (delivered != count) return ::testing::AssertionFailure() << "delivered " << delivered;
        for (uint32_t i = 0; i < count; ++i) {
            if (bytes[i] != StreamByte(offset_ + i)) {
                return ::testing::AssertionFailure() << "byte " << offset_ + i << " wrong";
            }
        }
        offset_ += count;
        return ::testing::AssertionSuccess();
    }

    uint8_t ReadOnly(uint32_t count) {
        std::vector<uint8_t> bytes(count);
        uint32_t delivered = 0;
        return ReadImageBytes(Link(), bytes.data(), count, &delivered);
    }

    std::shared_ptr<FakeStreamDevice> device_ = std::make_shared<FakeStreamDevice>();
    HANDLE handle_ = nullptr;
    uint64_t offset_ = 0;
    ScannerLink Link() { return {handle_, 4, channel_, reader_}; }

    CommandChannel channel_;
    ImageDataReader reader_;
    std::string debug_;
};

TEST_F(ImageReader, ShortTransferIssuesAllItsReadsAtOnce) {
    // 100000 bytes in 30720-byte blocks: four blocks, the last 7840 bytes rounded
    // up to 7872.
    std::vector<uint32_t> consumedAtIssue;
    device_->OnIssue([&](uint32_t) { consumedAtIssue.push_back(reader_.State().BlocksConsumed); });
    ASSERT_EQ(OpenImageReader(Link(), 100000, 30720, 5), 1);
    EXPECT_TRUE(device_->IssuedSizes().empty());  // nothing before the first request
    ASSERT_TRUE(ReadAndCheck(1000));
    EXPECT_EQ(device_->IssuedSizes(), (std::vector<uint32_t>{30720, 30720, 30720, 7872}));
    EXPECT_EQ(reader_.State().SlotCount, 4u);
    while (offset_ < 100000)
        ASSERT_TRUE(ReadAndCheck(static_cast<uint32_t>(std::min<uint64_t>(5000, 100000 - offset_))));
    EXPECT_EQ(device_->IssuedSizes().size(), 4u);
    EXPECT_EQ(consumedAtIssue, (std::vector<uint32_t>{0, 0, 0, 0}));
    // The whole transfer is handed out: nothing reaches past the final block.
    EXPECT_EQ(ReadOnly(30720), 0);
}

TEST_F(ImageReader, LongTransferKeepsTheRingFull) {
    // 307200 bytes: ten full blocks, five in flight; each fetch issues the block
    // five ahead.
    std::vector<uint32_t> consumedAtIssue;
    device_->OnIssue([&](uint32_t) { consumedAtIssue.push_back(reader_.State().BlocksConsumed); });
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    while (offset_ < 307200) ASSERT_TRUE(ReadAndCheck(7680));
    EXPECT_EQ(device_->IssuedSizes(), std::vector<uint32_t>(10, 30720));
    EXPECT_EQ(consumedAtIssue, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST_F(ImageReader, RequestsEndingAtAndCrossingBlockEnds) {
    ASSERT_EQ(OpenImageReader(Link(), 8192, 1024, 2), 1);
    ASSERT_TRUE(ReadAndCheck(1024));  // exactly one block
    EXPECT_EQ(device_->IssuedSizes().size(), 3u);
    ASSERT_TRUE(ReadAndCheck(1000));  // next block fetched first
    EXPECT_EQ(device_->IssuedSizes().size(), 4u);
    ASSERT_TRUE(ReadAndCheck(100));  // 24 bytes of this block, 76 of the next
    ASSERT_TRUE(ReadAndCheck(948));  // ends exactly at a block end
    ASSERT_TRUE(ReadAndCheck(1));
    ASSERT_TRUE(ReadAndCheck(1024));  // a full block's worth from the middle of one
    while (offset_ < 8192)
        ASSERT_TRUE(ReadAndCheck(static_cast<uint32_t>(std::min<uint64_t>(777, 8192 - offset_))));
}

TEST_F(ImageReader, RefusesRequestsLargerThanABlock) {
    ASSERT_EQ(OpenImageReader(Link(), 8192, 1024, 2), 1);
    EXPECT_EQ(ReadOnly(1025), 0);
    EXPECT_TRUE(device_->IssuedSizes().empty());
    ASSERT_TRUE(ReadAndCheck(1024));
}

TEST_F(ImageReader, ShortBlockFailsTheRequest) {
    device_->SetFault(1, FakeStreamDevice::Fault::Short);
    ASSERT_EQ(OpenImageReader(Link(), 4096, 1024, 4), 1);
    ASSERT_TRUE(ReadAndCheck(1024));
    EXPECT_EQ(ReadOnly(512), 0);
    EXPECT_EQ(ReadOnly(512), 0);  // the failed block is not handed out later
    EXPECT_EQ(debug_.find("!WAIT_OBJECT_0"), std::string::npos);
}

TEST_F(ImageReader, NonFinalBlockOfTheFinalSizeIsRejected) {
    // Total 2*1024 + 512: a short first block that happens to be 512 bytes long
    // is still wrong.
    device_->SetFault(0, FakeStreamDevice::Fault::Short);
    ASSERT_EQ(OpenImageReader(Link(), 2560, 1024, 3), 1);
    EXPECT_EQ(ReadOnly(16), 0);
}

TEST_F(ImageReader, StalledReadIsCancelledAfterTheWait) {
    device_->SetFault(1, FakeStreamDevice::Fault::Stall);
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    ASSERT_TRUE(ReadAndCheck(30720));
    EXPECT_EQ(ReadOnly(30720), 0);  // 30000 ms under the time scale
    EXPECT_NE(debug_.find("!WAIT_OBJECT_0"), std::string::npos);
    EXPECT_GE(device_->CancelCount(), 1u);
    EXPECT_FALSE(reader_.State().SlotOutstanding[1]);
}

TEST_F(ImageReader, ReadThatCannotStartFailsAtOnce) {
    device_->SetFault(2, FakeStreamDevice::Fault::Refuse);
    ASSERT_EQ(OpenImageReader(Link(), 4096, 1024, 4), 1);
    ASSERT_TRUE(ReadAndCheck(1024));
    ASSERT_TRUE(ReadAndCheck(1024));
    EXPECT_EQ(ReadOnly(1), 0);
    EXPECT_EQ(debug_.find("!WAIT_OBJECT_0"),
              std::string::npos);  // no wait for a read never started
}

TEST_F(ImageReader, CloseEndsReadsStillInFlight) {
    device_->SetFault(3, FakeStreamDevice::Fault::Stall);  // reads 3 and later stay pending
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    ASSERT_TRUE(ReadAndCheck(30720));
    EXPECT_GT(device_->PendingCount(), 0u);
    EXPECT_EQ(CloseImageReader(Link()), 1);
    EXPECT_EQ(device_->PendingCount(), 0u);
    for (bool outstanding : reader_.State().SlotOutstanding) EXPECT_FALSE(outstanding);
    for (uint8_t* buffer : reader_.State().SlotBuffer) EXPECT_EQ(buffer, nullptr);
    for (HANDLE event : reader_.State().SlotEvent) EXPECT_EQ(event, nullptr);
    EXPECT_EQ(ReadOnly(1), 0);  // closed
}

TEST_F(ImageReader, ReopeningStartsAfresh) {
    device_->SetFault(2, FakeStreamDevice::Fault::Stall);
    ASSERT_EQ(OpenImageReader(Link(), 307200, 30720, 5), 1);
    ASSERT_TRUE(ReadAndCheck(100));
    ASSERT_EQ(OpenImageReader(Link(), 2048, 1024, 1),
              1);  // the stalled reads of the first are ended
    EXPECT_EQ(device_->PendingCount(), 0u);
    EXPECT_EQ(reader_.State().BlocksConsumed, 0u);
    EXPECT_EQ(reader_.State().TotalBlocks, 2u);
}

TEST_F(ImageReader, OpenChecksItsArguments) {
    EXPECT_EQ(OpenImageReader(Link(), 1000, 0, 1), 0);
    EXPECT_EQ(OpenImageReader(Link(), 1000, 64, 0), 0);
    EXPECT_EQ(OpenImageReader(Link(), 1000, 64, 51), 0);
    EXPECT_EQ(ReadOnly(1), 0);
    EXPECT_EQ(OpenImageReader(Link(), 1000, 64, 50), 1);
    // A block size that is not a multiple of 64 never gets a final read larger
    // than a slot.
    ASSERT_EQ(OpenImageReader(Link(), 190, 100, 2), 1);
    ASSERT_TRUE(ReadAndCheck(100));
    EXPECT_EQ(device_->IssuedSizes(), (std::vector<uint32_t>{100, 100}));
}

TEST_F(ImageReader, SingleBlockRead) {
    std::vector<uint8_t> bytes(5000);
    uint32_t transferred = 0;
    EXPECT_EQ(ReadImageBlockOnce(Link(), bytes.data(), 5000, &transferred), 1);
    EXPECT_EQ(transferred, 5000u);
    EXPECT_EQ(bytes[4999], StreamByte(4999));

    device_->SetFault(1, FakeStreamDevice::Fault::Stall);
    transferred = 77;
    EXPECT_EQ(ReadImageBlockOnce(Link(), bytes.data(), 5000, &transferred), 0);
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(device_->PendingCount(), 0u);

    device_->SetFault(2, FakeStreamDevice::Fault::Refuse);
    EXPECT_EQ(ReadImageBlockOnce(Link(), bytes.data(), 5000, &transferred), 0);
}

}  // namespace
}  // namespace b58
