#include <gtest/gtest.h>

#include <cstring>

#include "controller_fixture.h"
#include "device/device_discovery.h"

// Fields of the packed host records go to the checks by value (unary +): a reference to
// one may be misaligned.

namespace b58 {
namespace {

class DeviceQueriesTest : public testing::ControllerTest {
  protected:
    void OpenDevice() {
        TheDriver().DeviceHandle = OpenScannerByName();
        ASSERT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    }
};

TEST_F(DeviceQueriesTest, VersionAndGammaFormats) {
    VersionRecord version;
    std::memset(&version, 0xFF, sizeof version);
    EXPECT_EQ(GetVersionInfo(&version), 0);  // no device: the identity query fails and says so
    EXPECT_EQ(+version.Status, kStatusDeviceFailed);
    OpenDevice();
    EXPECT_EQ(GetVersionInfo(&version), 1);
    EXPECT_EQ(+version.Status, 0);
    EXPECT_EQ(+version.VersionMajor, 2);
    EXPECT_EQ(+version.VersionMinor, 4);

    for (uint16_t mode : {0, 1, 2, 10, 11}) {
        GammaInfoRecord gamma{0xFFFF, mode, 0, 0};
        EXPECT_EQ(GetGammaInfo(&gamma), 1);
        const uint16_t bits = mode == 10 ? 16 : 8;
        EXPECT_EQ(+gamma.Status, 0);
        EXPECT_EQ(+gamma.GammaInBits, bits);
        EXPECT_EQ(+gamma.GammaOutBits, bits);
    }
}

TEST_F(DeviceQueriesTest, DeviceInfoCarriesTheIdentifierAndFeature) {
    OpenDevice();
    SetReply(0x2E, {{6, 0xAB}, {7, 0x12}});  // third identity word 0x12AB
    SetReply(0x28, {{8, 1}});
    DeviceInfoRecord record;
    std::memset(&record, 0xFF, sizeof record);
    EXPECT_EQ(GetDeviceInfo(&record), 1);
    EXPECT_EQ(std::memcmp(TheDriver().DeviceInfoBlock + 32, "00AB", 4), 0);
    for (size_t i = 0; i < kDeviceInfoBlockSize; ++i) {
        if (i < 32 || i > 35) {
            ASSERT_EQ(TheDriver().DeviceInfoBlock[i], 0) << i;
        }
    }
    EXPECT_EQ(+record.Status, 0);
    EXPECT_EQ(+record.InfoVersion, 2);
    EXPECT_EQ(+record.Reserved4, 0);
    EXPECT_EQ(+record.Reserved6, 0);
    EXPECT_EQ(+record.InfoBlockSize, 96);
    EXPECT_EQ(+record.DeviceInfoBlock, TheDriver().DeviceInfoBlock);
    EXPECT_EQ(+record.DeviceFlag, 1);
    EXPECT_EQ(+record.Reserved15, 0);
    EXPECT_EQ(+record.Byte16, 1);
    EXPECT_EQ(+record.Byte17, 8);
    EXPECT_EQ(+record.Byte18, 8);
    EXPECT_EQ(+record.Reserved19 | record.Reserved20 | record.Reserved21, 0);
    ASSERT_EQ(Commands(0x28).size(), 1u);
    EXPECT_EQ(Commands(0x28)[0],
              (testing::Bytes{0x28, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    SetReply(0x28, {{8, 2}});
    GetDeviceInfo(&record);
    EXPECT_EQ(+record.DeviceFlag, 0);
}

TEST_F(DeviceQueriesTest, CarriageHomeReportsFailure) {
    OpenDevice();
    ControlRecord record{0xFFFF, 0, 0, 0, 0};
    EXPECT_EQ(CarriageHome(&record), 1);
    EXPECT_EQ(+record.Status, 0);
    EXPECT_EQ(Commands(0x24).size(), 1u);
    SetReply(0x24, {{0, 2}});
    EXPECT_EQ(CarriageHome(&record), 0);
    EXPECT_EQ(+record.Status, kStatusCarriageHomeFailed);
}

TEST_F(DeviceQueriesTest, PowerControlChoosesTheLampOfTheSource) {
    OpenDevice();
    SetReply(0x3F, {{2, 1}});  // the lamps may be switched
    ControlRecord record{0xFFFF, 1, 0, 0, 0};
    TheDriver().Session.TaMode = 1;
    EXPECT_EQ(PowerControl(&record), 1);
    EXPECT_EQ(+record.Status, 0);
    TheDriver().Session.TaMode = 0;
    PowerControl(&record);
    record.PowerOn = 0;
    PowerControl(&record);
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{2, 1, 0}));

    SetReply(0x25, {{0, 3}});  // the lamp command fails
    record.PowerOn = 1;
    EXPECT_EQ(PowerControl(&record), 0);
    EXPECT_EQ(+record.Status, kStatusLightControlFailed);
}

TEST_F(DeviceQueriesTest, PowerControlRefusedByTheController) {
    OpenDevice();
    ControlRecord record{0xFFFF, 1, 0, 0, 0};
    EXPECT_EQ(PowerControl(&record), 0);  // the query answers 0 in byte 2
    EXPECT_EQ(+record.Status, kStatusLightControlFailed);
    EXPECT_TRUE(LampMasks().empty());

    // A failed query is no permission, whatever the buffer held before.
    TheDriver().MiscControlBuffer[0] = 1;
    SetReply(0x3F, {{0, 2}, {2, 1}});
    EXPECT_EQ(PowerControl(&record), 0);
    EXPECT_EQ(+record.Status, kStatusLightControlFailed);
    EXPECT_TRUE(LampMasks().empty());
}

TEST_F(DeviceQueriesTest, KeyStatusClosesTheDevice) {
    OpenDevice();
    SetReply(0x74, {{2, 1}});
    uint8_t key = 0xFF;
    EXPECT_EQ(GetKeyStatus(&key), 1);
    EXPECT_EQ(key, 0x10);
    EXPECT_EQ(ShortCommands(0x74).size(), 1u);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);

    ControlRecord status{0xFFFF, 9, 9, 9, 9};
    EXPECT_EQ(GetDeviceStatus(&status), 0);
    EXPECT_EQ(+status.Status, kStatusNoDevice);

    // Without an open device it opens one itself, and closes it again.
    SetReply(0x74, {{2, 0}});
    EXPECT_EQ(GetKeyStatus(&key), 1);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);

    usbscan::WithdrawAll();
    EXPECT_EQ(GetKeyStatus(&key), 0);
}

TEST_F(DeviceQueriesTest, DeviceStatusReselectsTheLamp) {
    OpenDevice();
    TheDriver().Session.TaMode = 1;
    ControlRecord status{0xFFFF, 9, 9, 9, 9};
    EXPECT_EQ(GetDeviceStatus(&status), 1);
    EXPECT_EQ(+status.Status, 0);
    EXPECT_EQ(+status.PowerOn | status.Byte3 | status.Byte4 | status.Byte5, 0);
    EXPECT_EQ(LampMasks(), std::vector<uint8_t>{2});
}

TEST_F(DeviceQueriesTest, TestEntryOpenLeavesTheDeviceOpen) {
    EXPECT_EQ(TestEntry(1, nullptr), 1);
    EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FirmwareDownloads(), 1u);
    // With the device open nothing is downloaded again.
    SetReply(0x74, {{2, 1}});
    EXPECT_EQ(TestEntry(3, nullptr), 1);
    SetReply(0x74, {{2, 0}});
    EXPECT_EQ(TestEntry(3, nullptr), 0);
    EXPECT_EQ(FirmwareDownloads(), 1u);
    EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(DeviceQueriesTest, TestEntryLampsAndDeviceOpenedForTheCall) {
    EXPECT_EQ(TestEntry(5, nullptr), 1);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);  // closed again
    EXPECT_EQ(TheDriver().LastStatus, 1);
    EXPECT_EQ(TestEntry(6, nullptr), 1);
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{0, 3}));
    EXPECT_EQ(FirmwareDownloads(), 2u);

    usbscan::WithdrawAll();
    EXPECT_EQ(TestEntry(1, nullptr), 0);
}

TEST_F(DeviceQueriesTest, TestEntrySwitchesAndNullData) {
    OpenDevice();
    TheDriver().LastStatus = 1;
    uint8_t key = 0x55;
    EXPECT_EQ(TestEntry(7, &key), 1);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(TestEntry(7, nullptr), 1);  // nothing written

    const uint8_t origin[2] = {0x34, 0x12};
    TestEntry(8, const_cast<uint8_t*>(origin));
    EXPECT_EQ(TheDriver().ScanFromOrigin, 0x1234);
    TestEntry(8, nullptr);
    EXPECT_EQ(TheDriver().ScanFromOrigin, 0x1234);
    const uint8_t area[3] = {0, 1, 0};
    TestEntry(30, const_cast<uint8_t*>(area + 1));  // not aligned
    EXPECT_EQ(TheDriver().ScanCalibrationArea, 1);
    TestEntry(30, nullptr);
    EXPECT_EQ(TheDriver().ScanCalibrationArea, 1);

    int8_t pacing = -3;
    TestEntry(31, &pacing);
    EXPECT_EQ(TheDriver().DirectReadMode, 1);
    EXPECT_EQ(TheDriver().DirectReadPacing, 0xFFFD);
    TestEntry(31, nullptr);
    EXPECT_EQ(TheDriver().DirectReadMode, 0);
    EXPECT_EQ(TheDriver().DirectReadPacing, 0xFFFD);

    TheDriver().LastStatus = 7;
    EXPECT_EQ(TestEntry(99, nullptr), 7);
    EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(DeviceQueriesTest, NullRecordsAreRefused) {
    OpenDevice();
    EXPECT_EQ(GetVersionInfo(nullptr), 0);
    EXPECT_EQ(GetDeviceInfo(nullptr), 0);
    EXPECT_EQ(GetGammaInfo(nullptr), 0);
    EXPECT_EQ(CarriageHome(nullptr), 0);
    EXPECT_EQ(PowerControl(nullptr), 0);
    EXPECT_EQ(GetDeviceStatus(nullptr), 0);
    EXPECT_EQ(GetKeyStatus(nullptr), 0);
    EXPECT_TRUE(controller_->Transfers().empty());
}

}  // namespace
}  // namespace b58
