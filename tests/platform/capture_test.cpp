// The transfer capture: record layout, what a capture holds, and that a protocol analyser
// reads it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <numeric>
#include <sstream>
#include <thread>

#include "pcap_reader.h"
#include "platform/usbscan/usb_capture.h"
#include "platform/usbscan/usbmon_record.h"
#include "usbscan_test_support.h"

namespace b58::test {
namespace {

using usbscan::UsbmonEvent;

std::string CapturePath(const char* name) {
    return ::testing::TempDir() + "usbscan_" + name + ".pcap";
}

TEST(UsbmonRecord, HeaderFieldsSitWhereTheAnalysersLookForThem) {
    std::array<uint8_t, 6> data = {1, 2, 3, 4, 5, 6};
    UsbmonEvent event;
    event.id = 0x1122334455667788ull;
    event.type = 'S';
    event.transferType = usbscan::kTransferControl;
    event.endpoint = 0x00;
    event.device = 3;
    event.bus = 1;
    event.setup = usbscan::UsbSetup{0x40, 0x04, 0x2010, 0x3F40, 6};
    event.seconds = 1700000000;
    event.microseconds = 123456;
    event.status = usbscan::kUrbInProgress;
    event.length = 6;
    event.data = data.data();
    event.dataSize = 6;

    std::vector<uint8_t> record = usbscan::EncodePcapRecord(event, 68);  // room for 4 data bytes
    ASSERT_EQ(record.size(), 16u + 64u + 4u);
    auto at = [&](size_t offset, int bytes) { return pcap_detail::Little(&record[16 + offset], bytes); };
    EXPECT_EQ(pcap_detail::Little(&record[8], 4), 68u);   // stored
    EXPECT_EQ(pcap_detail::Little(&record[12], 4), 70u);  // on the wire
    EXPECT_EQ(at(0, 8), 0x1122334455667788ull);
    EXPECT_EQ(at(8, 1), uint64_t{'S'});
    EXPECT_EQ(at(9, 1), 2u);
    EXPECT_EQ(at(10, 1), 0x00u);
    EXPECT_EQ(at(11, 1), 3u);
    EXPECT_EQ(at(12, 2), 1u);
    EXPECT_EQ(at(14, 1), 0u);  // setup present
    EXPECT_EQ(at(15, 1), 0u);  // data present
    EXPECT_EQ(at(16, 8), 1700000000u);
    EXPECT_EQ(at(24, 4), 123456u);
    EXPECT_EQ(static_cast<int32_t>(at(28, 4)), -115);
    EXPECT_EQ(at(32, 4), 6u);
    EXPECT_EQ(at(36, 4), 4u);
    std::vector<uint8_t> setup(record.begin() + 16 + 40, record.begin() + 16 + 48);
    EXPECT_EQ(setup, (std::vector<uint8_t>{0x40, 0x04, 0x10, 0x20, 0x40, 0x3F, 0x06, 0x00}));
    EXPECT_EQ(record.back(), 4);

    // A device-to-host submission carries no data and says why.
    event.endpoint = 0x80;
    event.setup.reset();
    event.data = nullptr;
    event.dataSize = 0;
    record = usbscan::EncodePcapRecord(event, 1 << 16);
    EXPECT_EQ(record[16 + 14], '-');
    EXPECT_EQ(record[16 + 15], '<');
}

// A control write, a control read and a bulk read on device index 2, captured.
class CapturedSession : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = CapturePath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(usbscan::StartCapture(path_));
        HANDLE handle = OpenDeviceHandle(FixedName(2));
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);

        std::iota(command_.begin(), command_.end(), 0x30);
        IO_BLOCK write = RegisterBlock(0x2010, 0x3F40, 64, command_.data());
        OverlappedRecord overlapped;
        DWORD returned = 0;
        ASSERT_TRUE(DeviceIoControl(handle, IOCTL_WRITE_REGISTERS, &write, sizeof(write), nullptr, 0,
                                    &returned, &overlapped.record));

        scanner_.backend().QueueReply({0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07});
        std::array<uint8_t, 8> reply{};
        IO_BLOCK read = RegisterBlock(0x2013, 0x3F00, 8, reply.data());
        ASSERT_TRUE(DeviceIoControl(handle, IOCTL_READ_REGISTERS, &read, sizeof(read), reply.data(), 8,
                                    &returned, &overlapped.record));

        image_.resize(512);
        std::iota(image_.begin(), image_.end(), 0);
        scanner_.backend().AppendStream(image_);
        std::vector<uint8_t> block(512);
        EXPECT_FALSE(ReadFile(handle, block.data(), 512, nullptr, &overlapped.record));
        DWORD count = 0;
        EXPECT_TRUE(GetOverlappedResult(handle, &overlapped.record, &count, TRUE));
        CloseHandle(handle);
        usbscan::StopCapture();
    }
    void TearDown() override { std::remove(path_.c_str()); }

    PublishedFake scanner_{2};
    std::string path_;
    std::array<uint8_t, 64> command_{};
    std::vector<uint8_t> image_;
};

TEST_F(CapturedSession, EachTransferIsASubmissionAndACompletionWithItsData) {
    auto file = ReadPcapFile(path_);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->linkType, 220u);
    ASSERT_EQ(file->records.size(), 6u);
    std::vector<UsbmonPacket> packets;
    for (const auto& record : file->records) {
        auto packet = ParseUsbmonPacket(record.bytes);
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->device, 3);  // index 2
        packets.push_back(*packet);
    }
    for (size_t i = 0; i < 6; i += 2) {
        EXPECT_EQ(packets[i].type, 'S');
        EXPECT_EQ(packets[i + 1].type, 'C');
        EXPECT_EQ(packets[i].id, packets[i + 1].id);
        EXPECT_EQ(packets[i].status, -115);
        EXPECT_EQ(packets[i + 1].status, 0);
    }
    EXPECT_NE(packets[0].id, packets[2].id);

    // Control write: setup and data on the submission.
    EXPECT_EQ(packets[0].endpoint, 0x00);
    EXPECT_EQ(packets[0].setup, (std::array<uint8_t, 8>{0x40, 0x04, 0x10, 0x20, 0x40, 0x3F, 0x40, 0x00}));
    EXPECT_EQ(packets[0].data, std::vector<uint8_t>(command_.begin(), command_.end()));
    EXPECT_TRUE(packets[1].data.empty());
    // Control read: the reply on the completion.
    EXPECT_EQ(packets[2].endpoint, 0x80);
    EXPECT_EQ(packets[2].setup, (std::array<uint8_t, 8>{0xC0, 0x04, 0x13, 0x20, 0x00, 0x3F, 0x08, 0x00}));
    EXPECT_TRUE(packets[2].data.empty());
    EXPECT_EQ(packets[3].data, (std::vector<uint8_t>{0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}));
    // Bulk read: the image bytes on the completion.
    EXPECT_EQ(packets[4].transferType, 3);
    EXPECT_EQ(packets[4].endpoint, 0x81);
    EXPECT_EQ(packets[4].length, 512u);
    EXPECT_EQ(packets[5].data, image_);
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> chunk;
        size_t got;
        while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), got);
        pclose(pipe);
    }
    return output;
}

TEST_F(CapturedSession, ProtocolAnalyserDecodesIt) {
    if (RunCommand("command -v tshark").empty()) GTEST_SKIP() << "tshark is not installed";
    std::string fields =
        RunCommand("tshark -r '" + path_ +
                   "' -T fields -E separator='|' -e usb.setup.wValue -e usb.setup.wIndex -e usb.data_fragment"
                   " -e usb.control.Response -e usb.capdata 2>/dev/null");
    std::vector<std::string> lines;
    std::istringstream stream(fields);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u) << fields;

    std::string commandHex;
    for (uint8_t byte : command_) {
        char text[3];
        std::snprintf(text, sizeof(text), "%02x", byte);
        commandHex += text;
    }
    std::string imageHex;
    for (uint8_t byte : image_) {
        char text[3];
        std::snprintf(text, sizeof(text), "%02x", byte);
        imageHex += text;
    }
    // tshark shows wValue in hexadecimal and wIndex in decimal (0x3F40, 0x3F00).
    EXPECT_EQ(lines[0], "0x2010|16192|" + commandHex + "||");
    EXPECT_EQ(lines[2], "0x2013|16128|||");
    EXPECT_EQ(lines[3], "|||00a1b2c3d4e5f607|");
    EXPECT_EQ(lines[5], "||||" + imageHex);
}

TEST(Capture, TransfersFromManyThreadsAllArriveWhole) {
    const std::string path = CapturePath("threads");
    ASSERT_TRUE(usbscan::StartCapture(path));
    PublishedFake first(4), second(5);
    constexpr int kReads = 20;
    first.backend().AppendStream(std::vector<uint8_t>(kReads * 256, 0x11));
    second.backend().AppendStream(std::vector<uint8_t>(kReads * 256, 0x22));

    auto readAll = [](int index) {
        HANDLE handle = OpenDeviceHandle(FixedName(index));
        std::vector<std::unique_ptr<OverlappedRecord>> records;
        std::vector<std::vector<uint8_t>> buffers(kReads, std::vector<uint8_t>(256));
        for (int i = 0; i < kReads; ++i) {
            records.push_back(std::make_unique<OverlappedRecord>());
            ReadFile(handle, buffers[i].data(), 256, nullptr, &records.back()->record);
        }
        for (auto& record : records) {
            DWORD count = 0;
            GetOverlappedResult(handle, &record->record, &count, TRUE);
        }
        CloseHandle(handle);
    };
    std::thread reader1(readAll, 4), reader2(readAll, 5);
    HANDLE control = OpenDeviceHandle(FixedName(4));
    std::array<uint8_t, 64> command{};
    for (int i = 0; i < kReads; ++i) {
        IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, command.data());
        OverlappedRecord overlapped;
        DeviceIoControl(control, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, nullptr,
                        &overlapped.record);
    }
    reader1.join();
    reader2.join();
    CloseHandle(control);
    usbscan::StopCapture();

    auto file = ReadPcapFile(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->records.size(), 3u * kReads * 2);
    std::map<uint64_t, std::string> events;
    for (const auto& record : file->records) {
        auto packet = ParseUsbmonPacket(record.bytes);
        ASSERT_TRUE(packet);
        events[packet->id] += packet->type;
        if (packet->type == 'C' && packet->transferType == 3) {
            EXPECT_EQ(packet->data, std::vector<uint8_t>(256, packet->device == 5 ? 0x11 : 0x22));
        }
    }
    for (const auto& [id, kinds] : events) EXPECT_EQ(kinds, "SC") << id;
    std::remove(path.c_str());
}

TEST(Capture, UnwritablePathStartsNothing) {
    EXPECT_FALSE(usbscan::StartCapture("/nonexistent-folder/capture.pcap"));
    EXPECT_FALSE(usbscan::CaptureActive());
}

}  // namespace
}  // namespace b58::test
