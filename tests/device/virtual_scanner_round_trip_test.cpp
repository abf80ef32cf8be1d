// Every command against the virtual scanner: the controller must understand
// what the driver sends and the driver what the controller answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/command_set.h"
#include "device/command_transport.h"
#include "device/device_discovery.h"
#include "device/firmware_download.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"
#include "support/scratch_directory.h"

namespace b58 {
namespace {

constexpr char kPath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#7&1&0&1#{6bdd1fc6-810f-"
    "11d0-bec7-08002be2092f}";

class VirtualScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTimeScale(0.01);
        usbscan::WithdrawAll();
        Plug({});
    }
    void TearDown() override {
        CloseScanner(device_);
        usbscan::WithdrawAll();
        platform::SetTimeScale(1.0);
    }
    void Plug(sim::ScannerConfig config) {
        if (device_ != INVALID_HANDLE_VALUE) CloseScanner(device_);
        usbscan::WithdrawAll();
        scanner_ = std::make_shared<sim::VirtualScanner>(config);
        usbscan::Publish({0, kPath, scanner_});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void Download() {
        const auto image = sim::BuildFirmwareImage();
        const std::string path = scratch_.Write("b58fw.usb", std::string(image.begin(), image.end()));
        ASSERT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 1);
    }

    b58::testing::ScratchDirectory scratch_;
    std::shared_ptr<sim::VirtualScanner> scanner_;
    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    HANDLE device_ = INVALID_HANDLE_VALUE;
    CommandChannel channel_;
    ImageDataReader reader_;
};

uint8_t ShortQuery(HANDLE device, uint8_t command) {
    uint8_t buffer[64];
    FillShortCommand(command, buffer);
    uint32_t returned = 0;
    EXPECT_EQ(ScannerIoControlShort(device, 4, buffer, 64, buffer, 64, &returned), 1);
    EXPECT_EQ(buffer[0], 0);
    return buffer[2];
}

ScanWindowParameters GreyWindow() {
    ScanWindowParameters w;
    w.HWWidth = 512;
    w.HWHeight = 200;
    w.RXDPI = 300;
    w.SWWidth = 512;
    w.SWHeight = 200;
    w.PixelFormatCode = 2;
    w.DataWidth = 8;
    w.InterfaceType = 4;
    w.Option20_0 = w.Option20_1 = 1;
    w.RYDPI = 300;
    w.YMAXDPI = 300;
    return w;
}

TEST_F(VirtualScannerTest, FirmwareIsDownloadedVerifiedAndRuns) {
    EXPECT_EQ(ShortQuery(device_, kCmdFirmwareState), 0x00);
    Download();
    const sim::ControllerState state = scanner_->State();
    EXPECT_TRUE(state.firmwareRunning);
    ASSERT_TRUE(state.lastDownload.has_value());
    EXPECT_EQ(*state.lastDownload, sim::FirmwareCheck::Ok);
    EXPECT_EQ(ShortQuery(device_, kCmdFirmwareState), 0xFF);
}

TEST_F(VirtualScannerTest, EveryCommandRoundTrips) {
    sim::ScannerConfig config;
    config.firmwareRunning = true;
    config.keyPressed = true;
    config.identity = {0x0102, 0x0304, 0x0506, 0x0708, 0x090A0B0C};
    Plug(config);

    ScannerIdentity ids;
    ASSERT_EQ(ProcessCommandGetAllID(nullptr, 0, Link(), &ids), 1);
    EXPECT_EQ(ids.id1, 0x0102);
    EXPECT_EQ(ids.id3, 0x0506);
    EXPECT_EQ(ids.id5, 0x090A0B0Cu);

    uint8_t data[58] = {1};
    uint8_t result[58] = {};
    ASSERT_EQ(ProcessCommandMiscControl(nullptr, 0, Link(), kCmdLampControl, data, result), 1);
    EXPECT_EQ(scanner_->State().lamps, 1);
    ASSERT_EQ(ProcessCommandMiscControl(nullptr, 0, Link(), kCmdLampPowerQuery, data, result), 1);
    EXPECT_EQ(result[0], 1);

    const uint8_t feature[64] = {kCmdFeatureQuery};
    uint8_t reply[64] = {};
    uint32_t returned = 0;
    ASSERT_EQ(ScannerIoControl(device_, 4, feature, 64, reply, 64, &returned), 1);
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(reply[8], 1);

    EXPECT_EQ(ShortQuery(device_, kCmdKeyQuery), 1);
    EXPECT_EQ(ShortQuery(device_, kCmdKeyQuery),
              0);  // reading it cleared the press

    const uint8_t steps[2] = {0x90, 0x01};  // 400 steps
    ASSERT_EQ(ProcessCommandSendUserCommand(nullptr, 0, Link(), {kCmdMoveForward, steps, 2, nullptr, 0}), 1);
    ASSERT_EQ(WaitScannerReady(device_), 1);
    EXPECT_EQ(scanner_->State().carriagePosition, 400u);
    EXPECT_FALSE(scanner_->State().busy);

    ASSERT_EQ(ProcessCommandSetScanWindowN(nullptr, 0, Link(), GreyWindow()), 1);
    const auto window = scanner_->State().window;
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->hwWidth, 512);
    EXPECT_EQ(window->lineBytes, 512);
    EXPECT_EQ(window->linesToDeliver, 200);
    EXPECT_EQ(window->formatByte, 0x82);

    ASSERT_EQ(SetAFEParameters(nullptr, 0, Link(), {30, 40, 31, 20, 32, 60}), 1);
    const sim::AfeSettings afe = scanner_->State().afe;
    EXPECT_EQ(afe.offset[0], 30);
    EXPECT_EQ(afe.gain[0], 52);
    EXPECT_EQ(afe.gain[1], 20);
    EXPECT_EQ(afe.gain[2], 63);

    ASSERT_EQ(WaitScannerReady(device_), 1);
    ASSERT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 1);
    EXPECT_EQ(scanner_->State().phase, sim::ScanPhase::Started);
    ASSERT_EQ(WaitScanData(nullptr, Link()), 1);
    EXPECT_EQ(scanner_->State().phase, sim::ScanPhase::Streaming);
    ASSERT_EQ(SendStopCommand(device_), 1);
    EXPECT_EQ(scanner_->State().phase, sim::ScanPhase::Idle);

    ASSERT_EQ(ProcessCommandMiscControl(nullptr, 0, Link(), kCmdCarriageHome, data, result), 1);
    ASSERT_EQ(WaitScannerReady(device_), 1);
    EXPECT_EQ(scanner_->State().carriagePosition, 0u);
}

TEST_F(VirtualScannerTest, ControllerDelaysAreWaitedOut) {
    sim::ScannerConfig config;
    config.firmwareRunning = true;
    config.faults.notTaken = 3;
    config.faults.busyMs = 2000;
    config.faults.handshakeRefusals = 4;
    Plug(config);

    ASSERT_EQ(ProcessCommandSetScanWindowN(nullptr, 0, Link(), GreyWindow()),
              1);  // re-sent 3 times
    EXPECT_EQ(scanner_->ExecutedCount(kCmdScanWindow), 1u);
    ASSERT_EQ(WaitScannerReady(device_), 1);
    EXPECT_FALSE(scanner_->State().busy);
    ASSERT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 1);
    ASSERT_EQ(WaitScanData(nullptr, Link()), 1);
    EXPECT_EQ(scanner_->State().phase, sim::ScanPhase::Streaming);
}

TEST_F(VirtualScannerTest, CommandsWithoutFirmwareAreRefused) {
    EXPECT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 0);
    EXPECT_EQ(ProcessCommandSetScanWindowN(nullptr, 0, Link(), GreyWindow()), 0);
    EXPECT_EQ(channel_.Reply()[0], 0x04);
}

TEST_F(VirtualScannerTest, ABadReadBackStopsTheDownload) {
    sim::ScannerConfig config;
    config.faults.badReadBackBlock = 10;
    Plug(config);
    const auto image = sim::BuildFirmwareImage();
    const std::string path = scratch_.Write("b58fw.usb", std::string(image.begin(), image.end()));
    EXPECT_EQ(ProcessDownloadFirmware(nullptr, 0, device_, 4, path.c_str()), 0);
    EXPECT_EQ(scanner_->ExecutedCount(kCmdDownloadComplete), 0u);
    EXPECT_FALSE(scanner_->State().firmwareRunning);
}

}  // namespace
}  // namespace b58
