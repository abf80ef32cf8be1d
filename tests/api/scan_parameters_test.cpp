#include <gtest/gtest.h>

#include <cstring>

#include "controller_fixture.h"

// Fields of the packed host records go to the checks by value (unary +): a reference to
// one may be misaligned.

namespace b58 {
namespace {

class ScanParametersTest : public testing::ControllerTest {};

ScanParameters Request(uint16_t resolution, uint16_t mode, uint8_t source = 0) {
    ScanParameters r{};
    r.Left = 60;
    r.Top = 90;
    r.Right = 360;
    r.Bottom = 390;
    r.Resolution = resolution;
    r.ScanMode = mode;
    r.ScanSource = source;
    return r;
}

TEST_F(ScanParametersTest, FlatbedRequestConfiguresTheScan) {
    ScanParameters r = Request(1200, ModeColor24);
    r.Status = 0x5555;
    EXPECT_EQ(SetParameters(&r), 1);
    EXPECT_EQ(+r.Status, 0);
    EXPECT_EQ(+r.Resolution, 300);
    EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FirmwareDownloads(), 1u);
    EXPECT_EQ(LampMasks(), std::vector<uint8_t>{1});
    EXPECT_EQ(TheDriver().Session.RXDPI, 300);
    EXPECT_EQ(TheDriver().Session.RYDPI, 600);
    EXPECT_EQ(TheDriver().Session.LineBytes, 900);
    EXPECT_EQ(TheDriver().Session.ScanMode, ModeColor24);
    EXPECT_EQ(TheDriver().Session.TaMode, 0);
    EXPECT_EQ(TheDriver().FlatbedFirmwareReady, 1);
    EXPECT_EQ(TheDriver().TaFirmwareReady, 0);
    EXPECT_NE(TheDriver().Run.LineRoutine, nullptr);
    EXPECT_NE(TheDriver().ReaderRoutine, nullptr);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 1);
    EXPECT_EQ(TheDriver().Run.DriverGammaTable(), 1);
    EXPECT_NE(trace_.find("Trel-LINEMODE"), std::string::npos);
    EXPECT_LT(trace_.find("Trel-LINEMODE"), trace_.find("Trel 24bit Color Mode"));
}

TEST_F(ScanParametersTest, AdapterSourceDownloadsAgainAndSelectsItsLamp) {
    ScanParameters flatbed = Request(300, ModeGray);
    ASSERT_EQ(SetParameters(&flatbed), 1);
    ScanParameters ta = Request(300, ModeGray, 2);
    EXPECT_EQ(SetParameters(&ta), 1);
    // Flatbed: one download, lamp 1. Adapter: two downloads, lamp 2 selected and confirmed.
    EXPECT_EQ(FirmwareDownloads(), 3u);
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{1, 2, 2}));
    EXPECT_EQ(TheDriver().Session.TaType, 2);
    EXPECT_EQ(TheDriver().Session.TaMode, 1);
    EXPECT_EQ(TheDriver().TaFirmwareReady, 1);
    EXPECT_EQ(TheDriver().FlatbedFirmwareReady, 0);
    // Back to the flatbed: its first download succeeds, so no second one.
    ScanParameters again = Request(300, ModeGray);
    EXPECT_EQ(SetParameters(&again), 1);
    EXPECT_EQ(FirmwareDownloads(), 4u);
    EXPECT_EQ(TheDriver().Session.TaType, 0);
}

TEST_F(ScanParametersTest, UnknownSourceSendsNoLampAndKeepsTheAdapterType) {
    TheDriver().Session.TaType = 4;
    ScanParameters r = Request(150, ModeColor24, 3);
    EXPECT_EQ(SetParameters(&r), 1);
    EXPECT_TRUE(LampMasks().empty());
    EXPECT_EQ(TheDriver().Session.TaType, 4);
    EXPECT_EQ(TheDriver().Session.TaMode, 0);
    EXPECT_EQ(TheDriver().FlatbedFirmwareReady, 1);
}

TEST_F(ScanParametersTest, NoDeviceLeavesTheRecordAloneButItsStatus) {
    usbscan::WithdrawAll();
    ScanParameters r = Request(200, ModeGray);
    ScanParameters before = r;
    before.Status = kStatusDeviceFailed;
    EXPECT_EQ(SetParameters(&r), 0);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
}

TEST_F(ScanParametersTest, RejectedRequestsChangeNothing) {
    ScanParameters good = Request(300, ModeGray);
    ASSERT_EQ(SetParameters(&good), 1);
    const uint8_t* ring = TheDriver().Run.LineRing();
    const size_t transfers = controller_->Transfers().size();

    ScanParameters reversed = Request(300, ModeColor24);
    reversed.Right = 10;
    ScanParameters tooWide = Request(300, ModeColor24);
    tooWide.Right = tooWide.Left + 3701;
    ScanParameters tooTall = Request(300, ModeColor24);
    tooTall.Bottom = 65535;
    ScanParameters unknownMode = Request(300, 5);
    for (ScanParameters* r : {&reversed, &tooWide, &tooTall, &unknownMode}) {
        EXPECT_EQ(SetParameters(r), 0);
        EXPECT_EQ(+r->Status, kStatusRequestRejected);
        EXPECT_EQ(+r->Resolution, 300);
    }
    EXPECT_EQ(controller_->Transfers().size(), transfers);  // the device was left alone
    EXPECT_EQ(TheDriver().Run.LineRing(), ring);
    EXPECT_EQ(TheDriver().Session.PixelFormatCode, 2);
    EXPECT_EQ(TheDriver().Session.LinePixels, 300);
}

DWORD WINAPI ReaderThatEndsAtOnce(LPVOID) {
    return 0;
}

TEST_F(ScanParametersTest, RefusedWhileAScanRuns) {
    ScanParameters good = Request(300, ModeGray);
    ASSERT_EQ(SetParameters(&good), 1);
    const uint8_t* ring = TheDriver().Run.LineRing();
    // As StartScan leaves it: the reader's handle is kept until StopScan has collected it.
    ASSERT_TRUE(TheDriver().Run.StartReader(ReaderThatEndsAtOnce, {}));
    // Nor does a second start replace the context the kept reader was given.
    EXPECT_FALSE(TheDriver().Run.StartReader(ReaderThatEndsAtOnce, {}));
    ScanParameters next = Request(150, ModeColor48);
    EXPECT_EQ(SetParameters(&next), 0);
    EXPECT_EQ(+next.Status, kStatusScanRunning);
    EXPECT_EQ(TheDriver().Run.LineRing(), ring);
    EXPECT_EQ(TheDriver().Session.DataWidth, 8);
    WaitForSingleObject(TheDriver().Run.ReaderThread(), INFINITE);
    TheDriver().Run.ForgetReader();
}

TEST_F(ScanParametersTest, SecondRequestReplacesTheFirstSet) {
    // Run under the leak checker: the first set must not be left behind.
    ScanParameters first = Request(300, ModeColor48);
    ASSERT_EQ(SetParameters(&first), 1);
    uint16_t hostGamma[3 * 256];
    ScanParameters second = Request(100, ModeGray);
    second.GammaTable = hostGamma;
    ASSERT_EQ(SetParameters(&second), 1);
    EXPECT_EQ(TheDriver().Run.GammaTable(), hostGamma);
    EXPECT_EQ(TheDriver().Run.DriverGammaTable(), 0);
    EXPECT_EQ(TheDriver().Run.PlaneLines(1, 0) - TheDriver().Run.LineRing(), 4'440'000);
}

TEST_F(ScanParametersTest, GetParametersReportsTheConfiguration) {
    ScanParametersInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(GetParameters(&info), 1);
    EXPECT_EQ(+info.Status, 0);
    EXPECT_EQ(+info.RXDPI, 0);
    EXPECT_EQ(+info.RYDPI, 0);
    EXPECT_EQ(uint32_t{info.LineBytes}, 0u);
    EXPECT_EQ(uint32_t{info.ImageLines}, 0u);

    ScanParameters r = Request(1200, ModeColor24);
    ASSERT_EQ(SetParameters(&r), 1);
    EXPECT_EQ(GetParameters(&info), 1);
    EXPECT_EQ(+info.RXDPI, 300);
    EXPECT_EQ(+info.RYDPI, 600);
    EXPECT_EQ(uint32_t{info.LineBytes}, 900u);
    EXPECT_EQ(uint32_t{info.ImageLines}, 600u);
    EXPECT_NE(trace_.find("Trel RXDPI=300,RYDPI=600,LineBytes=900"), std::string::npos);
}

TEST_F(ScanParametersTest, NullRecordsAreRefused) {
    EXPECT_EQ(SetParameters(nullptr), 0);
    EXPECT_EQ(GetParameters(nullptr), 0);
    EXPECT_TRUE(controller_->Transfers().empty());
}

}  // namespace
}  // namespace b58
