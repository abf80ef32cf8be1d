#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration_stand_ins.h"
#include "controller_fixture.h"
#include "device/command_packets.h"
#include "scan/line_routines.h"
#include "scan/reader_threads.h"

// Fields of the packed host records go to the checks by value (unary +): a reference to
// one may be misaligned.

namespace b58 {
namespace {

using testing::Bytes;

// The stand-in reader runs until asked to stop, or, while `readerHeld` is set, past it (a
// reader stuck in a device read).
std::atomic<int> readerHeld{0};
DWORD WINAPI StandInReader(LPVOID) {
    while (!TheDriver().Run.StopRequested() || readerHeld.load()) Sleep(1);
    return 0;
}

// The stand-in line routine writes its call number into the line's first byte and delivers
// `linesAvailable` lines.
int lineCalls = 0;
int linesAvailable = 0;
int StandInLines(const LineContext&, uint8_t* hostLine) {
    ++lineCalls;
    if (lineCalls > linesAvailable) return 0;
    hostLine[0] = static_cast<uint8_t>(lineCalls);
    return 1;
}

std::vector<int32_t> progress;
int32_t progressAnswer = 1;
int32_t B58_CALLBACK RecordProgress(int32_t linesDone) {
    progress.push_back(linesDone);
    return progressAnswer;
}

class ScanControlTest : public testing::ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        testing::Calibration() = {};
        readerHeld = 0;
        lineCalls = 0;
        linesAvailable = 1000;
        progress.clear();
        progressAnswer = 1;
    }
    void TearDown() override {
        readerHeld = 0;
        StopRecord stop{};
        if (TheDriver().Run.ReaderThread() != nullptr) StopScan(&stop);
        ControllerTest::TearDown();
    }

    // SetParameters for 1 x 2 inches at 150 dpi (300 lines), then the stand-ins in the
    // routine slots.
    void Configure(uint16_t mode, uint8_t source = 0) {
        ScanParameters r{};
        r.Left = 100;
        r.Top = 90;
        r.Right = 400;
        r.Bottom = 690;
        r.Resolution = 150;
        r.ScanMode = mode;
        r.ScanSource = source;
        ASSERT_EQ(SetParameters(&r), 1);
        TheDriver().Run.LineRoutine = StandInLines;
        TheDriver().ReaderRoutine = StandInReader;
    }
    int32_t Start(ProgressRoutine callback = nullptr) {
        ScanStartRecord record{};
        record.ProgressCallback = callback;
        const int32_t result = StartScan(&record);
        startStatus_ = record.Status;
        return result;
    }
    uint16_t startStatus_ = 0;
};

TEST_F(ScanControlTest, FlatbedStartCalibratesProgramsTheWindowAndStartsTheReader) {
    Configure(ModeGray);
    testing::Calibration().leftbound = 0;
    testing::Calibration().topLine = 100;
    ASSERT_NE(Start(), 0);
    EXPECT_EQ(startStatus_, 43);
    EXPECT_EQ(testing::Calibration().calls,
              (std::vector<std::string>{"CalibrateAFE", "FindFlatbedBounds", "CalibrateShading"}));
    EXPECT_EQ(testing::Calibration().startLines[1], 27);  // shading 73 lines above the top
    ASSERT_NE(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(TheDriver().Run.PrerollPending, 1);
    EXPECT_EQ(TheDriver().Session.WindowStartX, 96);  // 100 + 5 on the 6-pixel grid, line mode: 101 - 5
    EXPECT_EQ(TheDriver().Session.myStartx, 101);

    const std::vector<Bytes> windows = Commands(kCmdScanWindow);
    ASSERT_FALSE(windows.empty());
    const Bytes& w = windows.back();
    EXPECT_EQ(w[6] | w[7] << 8, 101);                           // myStartx
    EXPECT_EQ(w[2] | w[3] << 8, TheDriver().Session.myStarty);  // after the pre-roll
    EXPECT_EQ(w[4] | w[5] << 8, TheDriver().Session.HWHeight);
    EXPECT_EQ(w[12] | w[13] << 8, 150);
    EXPECT_EQ(Commands(kCmdStartScan).size(), 1u);
    // The window went out after the AFE values and before the start command.
    EXPECT_NE(trace_.find("Trel HWWidth="), std::string::npos);
    EXPECT_NE(trace_.find("myStartx=101,"), std::string::npos);
    EXPECT_NE(trace_.find("Leave StartScan()"), std::string::npos);
}

TEST_F(ScanControlTest, StartIsRefusedWithoutARequestOrWhileAScanRuns) {
    ScanStartRecord record{};
    EXPECT_EQ(StartScan(nullptr), 0);
    EXPECT_EQ(StartScan(&record), 0);  // no SetParameters
    EXPECT_TRUE(Commands(kCmdScanWindow).empty());
    Configure(ModeGray);
    ASSERT_NE(Start(), 0);
    const HANDLE reader = TheDriver().Run.ReaderThread();
    const size_t starts = Commands(kCmdStartScan).size();
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(Commands(kCmdStartScan).size(), starts);
    EXPECT_EQ(TheDriver().Run.ReaderThread(), reader);
}

TEST_F(ScanControlTest, CalibrationFailureStopsBeforeTheWindowAndStopStillCleansUp) {
    for (int failing = 0; failing < 2; ++failing) {
        SCOPED_TRACE(failing == 0 ? "AFE" : "shading");
        Configure(ModeColor24);
        testing::Calibration().afeResult = failing == 0 ? 0 : 1;
        testing::Calibration().shadingResult = failing == 1 ? 0 : 1;
        EXPECT_EQ(Start(), 0);
        EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
        EXPECT_TRUE(Commands(kCmdStartScan).empty());

        ReadRequest read{};
        std::vector<uint8_t> buffer(TheDriver().Session.LineBytes);
        read.LinesWanted = 1;
        read.Buffer = buffer.data();
        EXPECT_EQ(ReadScannedData(&read), 0);
        EXPECT_EQ(+read.Status, 29);
        EXPECT_EQ(lineCalls, 0);

        const size_t stops = ShortCommands(kCmdStopScan).size();
        StopRecord stop{};
        StopScan(&stop);
        EXPECT_EQ(ShortCommands(kCmdStopScan).size(), stops + 1);
        EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
        EXPECT_EQ(TheDriver().Run.LineRing(), nullptr);
    }
}

TEST_F(ScanControlTest, WideSamplesGetFreshZeroedReferencesEachStart) {
    Configure(ModeColor48);
    testing::Calibration().shadingResult = 0;
    EXPECT_EQ(Start(), 0);
    ASSERT_NE(TheDriver().Run.WhiteRefR(), nullptr);
    EXPECT_EQ(testing::Calibration().whiteRefR, TheDriver().Run.WhiteRefR());
    EXPECT_EQ(testing::Calibration().calls.back(), "CalibrateShading16");
    std::memset(TheDriver().Run.DarkRefB(), 0xAB, 29'600);
    testing::Calibration().shadingResult = 1;
    ASSERT_NE(Start(), 0);  // the earlier set is released (the sanitizer builds see a leak otherwise)
    const std::vector<uint8_t> zeros(29'600, 0);
    EXPECT_EQ(std::memcmp(TheDriver().Run.DarkRefB(), zeros.data(), zeros.size()), 0);
    StopRecord stop{};
    StopScan(&stop);
    EXPECT_EQ(TheDriver().Run.WhiteRefR(), nullptr);
    EXPECT_EQ(TheDriver().Run.DarkRefB(), nullptr);
}

TEST_F(ScanControlTest, AdapterStartMovesTheCarriageByTheBackstep) {
    Configure(ModeColor24, 1);
    testing::Calibration().topLine = 200;
    ASSERT_NE(Start(), 0);
    EXPECT_EQ(testing::Calibration().calls,
              (std::vector<std::string>{"CalibrateAFEForTa", "FindTaBounds", "CalibrateShading"}));
    const std::vector<Bytes> moves = Commands(kCmdMoveForward);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0][2] | moves[0][3] << 8, 80);
    EXPECT_NE(trace_.find("leftbound=0,TopLine=200,Backstep=80"), std::string::npos);
    EXPECT_EQ(Commands(kCmdScanWindow).back()[21] >> 4 & 3, 1);  // adapter kind 1 in the mode field
}

TEST_F(ScanControlTest, AdapterTopBelowTheBaseMovesNothing) {
    Configure(ModeColor24, 1);
    testing::Calibration().topLine = 300;
    ASSERT_NE(Start(), 0);
    EXPECT_TRUE(Commands(kCmdMoveForward).empty());
    EXPECT_NE(trace_.find("Backstep=-20"), std::string::npos);
}

TEST_F(ScanControlTest, FirstReadDiscardsThePrerollAndReportsProgressEveryHundredLines) {
    Configure(ModeGray);
    ASSERT_NE(Start(RecordProgress), 0);
    std::vector<uint8_t> buffer(250u * TheDriver().Session.LineBytes);
    ReadRequest read{};
    read.LinesWanted = 250;
    read.Buffer = buffer.data();
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 0);
    EXPECT_EQ(+read.LinesDone, 250);
    EXPECT_EQ(lineCalls, 255);
    EXPECT_EQ(buffer[0], 6);  // the first line after the five pre-roll lines
    EXPECT_EQ(progress, (std::vector<int32_t>{1, 101, 201}));

    read.LinesWanted = 10;
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(lineCalls, 265);  // no second pre-roll
}

// The scan ends among the pre-roll lines: the host's buffer holds none of them.
TEST_F(ScanControlTest, AReadEndedDuringThePrerollWritesNothing) {
    Configure(ModeGray);
    ASSERT_NE(Start(), 0);
    linesAvailable = 3;
    std::vector<uint8_t> buffer(TheDriver().Session.LineBytes, 0xEE);
    ReadRequest read{};
    read.LinesWanted = 1;
    read.Buffer = buffer.data();
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 29);
    EXPECT_EQ(+read.LinesDone, 0);
    EXPECT_EQ(lineCalls, 4);
    EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), 0xEE));
}

TEST_F(ScanControlTest, NoLineIsAskedForPastTheEndOfTheImage) {
    Configure(ModeGray);
    ASSERT_EQ(TheDriver().Session.ImageLines, 300);
    ASSERT_NE(Start(), 0);
    std::vector<uint8_t> buffer(400u * TheDriver().Session.LineBytes);
    ReadRequest read{};
    read.LinesWanted = 400;
    read.Buffer = buffer.data();
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 29);
    EXPECT_EQ(+read.LinesDone, 300);
    EXPECT_EQ(lineCalls, 305);
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 29);
    EXPECT_EQ(+read.LinesDone, 0);
    EXPECT_EQ(lineCalls, 305);
}

TEST_F(ScanControlTest, ColourOrderFollowsTheRequest) {
    Configure(ModeColor24);
    ASSERT_NE(Start(), 0);
    ReadRequest read{};
    std::vector<uint8_t> buffer(TheDriver().Session.LineBytes);
    read.Buffer = buffer.data();
    read.BgrOrder = 1;
    ReadScannedData(&read);
    EXPECT_EQ((std::vector<int32_t>{TheDriver().Run.RedOffset, TheDriver().Run.GreenOffset,
                                    TheDriver().Run.BlueOffset}),
              (std::vector<int32_t>{2, 1, 0}));
    read.BgrOrder = 0;
    ReadScannedData(&read);
    EXPECT_EQ((std::vector<int32_t>{TheDriver().Run.RedOffset, TheDriver().Run.GreenOffset,
                                    TheDriver().Run.BlueOffset}),
              (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(ScanControlTest, EndOfImageCancelAndReaderFailure) {
    Configure(ModeGray);
    ASSERT_NE(Start(RecordProgress), 0);
    std::vector<uint8_t> buffer(300u * TheDriver().Session.LineBytes);
    ReadRequest read{};
    read.Buffer = buffer.data();

    linesAvailable = 5 + 120;
    read.LinesWanted = 300;
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 29);
    EXPECT_EQ(+read.LinesDone, 120);

    linesAvailable = 10'000;
    progressAnswer = 0;
    read.LinesWanted = 50;
    EXPECT_EQ(ReadScannedData(&read), 1);
    EXPECT_EQ(+read.Status, 42);
    EXPECT_EQ(+read.LinesDone, 1);

    TheDriver().Run.MarkReaderFailed();
    EXPECT_EQ(ReadScannedData(&read), 0);
    EXPECT_EQ(+read.Status, 29);
    EXPECT_EQ(+read.LinesDone, 0);
    EXPECT_EQ(ReadScannedData(nullptr), 0);
}

TEST_F(ScanControlTest, StopEndsTheReaderStopsTheScannerAndFreesTheMemory) {
    Configure(ModeGray);
    ASSERT_NE(Start(), 0);
    StopRecord stop{0x5555};
    EXPECT_NE(StopScan(&stop), 0);
    EXPECT_EQ(+stop.Status, 0);
    EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(ShortCommands(kCmdStopScan).size(), 1u);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
    EXPECT_EQ(TheDriver().Run.GammaTable(), nullptr);
    // The next scan needs a new request.
    ScanStartRecord record{};
    EXPECT_EQ(StartScan(&record), 0);
}

TEST_F(ScanControlTest, AReaderThatDoesNotEndKeepsItsMemoryUntilItDoes) {
    platform::SetTimeScale(0.0001);
    Configure(ModeGray);
    ASSERT_NE(Start(), 0);
    readerHeld = 1;
    StopRecord stop{};
    EXPECT_EQ(StopScan(&stop), 0);
    EXPECT_NE(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 1);
    EXPECT_NE(TheDriver().Run.LineRing(), nullptr);
    EXPECT_TRUE(ShortCommands(kCmdStopScan).empty());
    EXPECT_NE(trace_.find("reader thread did not end"), std::string::npos);

    readerHeld = 0;
    EXPECT_NE(StopScan(&stop), 0);
    EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
    EXPECT_EQ(ShortCommands(kCmdStopScan).size(), 1u);
}

}  // namespace
}  // namespace b58

namespace b58 {
namespace {

// While a scan runs the reader and StopScan own the command buffers and the lamps: the calls
// that would send a command are refused without sending one; after StopScan they work again.
struct Reply {
    int32_t result;
    int status;  // the record's Status, or -1 without a record
};
template <typename Record, int32_t(B58_CALL* Call)(Record*)>
Reply WithRecord() {
    Record record{};
    const int32_t result = Call(&record);
    return {result, record.Status};
}
template <uint16_t Code>
Reply TestCode() {
    uint8_t data = 1;
    return {TestEntry(Code, &data), -1};
}
Reply KeyStatus() {
    uint8_t key = 0;
    return {GetKeyStatus(&key), -1};
}

TEST_F(ScanControlTest, CommandSendingCallsAreRefusedWhileAScanRuns) {
    struct Case {
        const char* name;
        Reply (*call)();
        Reply refused;
    };
    const Case cases[] = {
        {"GetDeviceStatus", WithRecord<ControlRecord, GetDeviceStatus>, {0, kStatusScanRunning}},
        {"PowerControl off", WithRecord<ControlRecord, PowerControl>, {0, kStatusScanRunning}},
        {"CarriageHome", WithRecord<ControlRecord, CarriageHome>, {0, kStatusCarriageHomeFailed}},
        {"GetDeviceInfo", WithRecord<DeviceInfoRecord, GetDeviceInfo>, {0, kStatusScanRunning}},
        {"GetVersionInfo", WithRecord<VersionRecord, GetVersionInfo>, {1, kStatusOk}},
        {"GetKeyStatus", KeyStatus, {0, -1}},
        {"TestEntry key", TestCode<3>, {0, -1}},
        {"TestEntry lamps off", TestCode<5>, {0, -1}},
        {"TestEntry lamps on", TestCode<6>, {0, -1}},
        {"TestEntry key clear", TestCode<7>, {0, -1}},
    };
    SetReply(0x3F, {{2, 1}});  // lamp power allowed
    auto sent = [this] { return controller_->Written(0x2010).size() + controller_->Written(0x2012).size(); };
    Configure(ModeGray);
    ASSERT_NE(Start(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = sent();
        const Reply answer = c.call();
        EXPECT_EQ(answer.result, c.refused.result);
        EXPECT_EQ(answer.status, c.refused.status);
        EXPECT_EQ(sent(), before);
        EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    }
    StopRecord stop{};
    ASSERT_NE(StopScan(&stop), 0);
    ControlRecord record{};
    EXPECT_EQ(GetDeviceStatus(&record), 1);
    EXPECT_EQ(PowerControl(&record), 1);
}

// A scanner that refuses the data handshake for ever: the reader gives up at the stop
// instead of going on handshaking past StopScan's waits.
TEST_F(ScanControlTest, AStopEndsAReaderWhoseHandshakeIsRefused) {
    SetReply(0x35, {{0, 2}});
    for (LPTHREAD_START_ROUTINE reader : {PixelReader, PlaneReader}) {
        Configure(ModeGray);
        TheDriver().ReaderRoutine = reader;
        ASSERT_NE(Start(), 0);
        while (Commands(0x35).size() < 3) Sleep(1);
        const auto begin = std::chrono::steady_clock::now();
        StopRecord stop{};
        EXPECT_NE(StopScan(&stop), 0);
        std::printf(
            "refused handshake: StopScan took %.1f ms at time scale %.3f\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count(),
            platform::TimeScale());
        EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
        EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
        EXPECT_EQ(trace_.find("still running"), std::string::npos);
    }
}

}  // namespace
}  // namespace b58
