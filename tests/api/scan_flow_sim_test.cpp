// Whole scans through the entry points against the virtual scanner: calibration, the reader
// thread and the line routines together, compared with the scanner's ideal image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sim/driver_plan.h"
#include "sim/firmware_image.h"
#include "sim/ground_truth.h"
#include "sim/scanner_model.h"
#include "sim/virtual_scanner.h"
#include "virtual_scanner_fixture.h"

// Fields of the packed host records go to the checks by value (unary +).

namespace b58 {
namespace {

std::vector<int32_t> progressCalls;
bool cancelAtSecondCall = false;
int32_t B58_CALLBACK RecordProgress(int32_t linesDone) {
    progressCalls.push_back(linesDone);
    return cancelAtSecondCall && progressCalls.size() >= 2 ? 0 : 1;
}

struct ScanResult {
    uint32_t lineBytes = 0;
    uint32_t imageLines = 0;
    uint32_t delivered = 0;
    uint16_t finalStatus = 0;
    std::vector<uint8_t> pixels;
};

class ScanFlowTest : public testing::VirtualScannerTest {
  protected:
    void SetUp() override {
        VirtualScannerTest::SetUp();
        scanner_ = PublishVirtualScanner("seed=1,rate=0");
        ASSERT_NE(scanner_, nullptr);
        progressCalls.clear();
        cancelAtSecondCall = false;
        ASSERT_EQ(_Open(), 1);
    }
    void TearDown() override {
        StopRecord stop{};
        if (TheDriver().Run.ReaderThread() != nullptr) StopScan(&stop);
        _Close();
        ControllerTest::TearDown();
    }

    std::shared_ptr<sim::VirtualScanner> scanner_;
    std::shared_ptr<const sim::ScannerModel> model_ = sim::ScannerModel::WithTestCharts(1);

    sim::HostRequest Request(int mode, int dpi) const {
        sim::HostRequest r;
        r.left = 300;
        r.top = 300;
        r.right = 900;
        r.bottom = 750;
        r.resolution = dpi;
        r.mode = mode;
        return r;
    }

    // SetParameters, StartScan, reads of 250 lines until status 29, StopScan.
    ScanResult Scan(const sim::HostRequest& request) {
        ScanResult out;
        ScanParameters p{};
        p.Left = static_cast<uint16_t>(request.left);
        p.Top = static_cast<uint16_t>(request.top);
        p.Right = static_cast<uint16_t>(request.right);
        p.Bottom = static_cast<uint16_t>(request.bottom);
        p.Resolution = static_cast<uint16_t>(request.resolution);
        p.ScanMode = static_cast<uint16_t>(request.mode);
        p.Threshold = 128;
        if (SetParameters(&p) == 0) return out;
        ScanParametersInfo info{};
        GetParameters(&info);
        out.lineBytes = info.LineBytes;
        out.imageLines = info.ImageLines;
        ScanStartRecord start{};
        start.ProgressCallback = RecordProgress;
        if (StartScan(&start) == 0) return out;
        out.pixels.resize(size_t{out.lineBytes} * (out.imageLines + 250));
        for (int reads = 0; reads < 1000; ++reads) {
            ReadRequest read{};
            read.LinesWanted = 250;
            read.Buffer = out.pixels.data() + size_t{out.delivered} * out.lineBytes;
            if (out.delivered + 250 > out.imageLines + 250) break;
            const int32_t result = ReadScannedData(&read);
            out.delivered += read.LinesDone;
            out.finalStatus = read.Status;
            if (result == 0 || read.Status != 0) break;
        }
        StopRecord stop{};
        StopScan(&stop);
        out.pixels.resize(size_t{out.delivered} * out.lineBytes);
        return out;
    }
};

// Mean absolute difference (0..255) between the delivered image and what the device scanned
// for the window the driver programmed (output line k is the window's row k + 5).
double DifferenceFromTruth(const ScanResult& scan, const sim::SampleImage& truth) {
    const int channels = truth.channels;
    const int width = std::min(static_cast<int>(scan.lineBytes) / channels, truth.width);
    const int shift = truth.bitDepth == 16 ? 8 : 0;
    double sum = 0;
    size_t count = 0;
    for (int y = 0; y < static_cast<int>(scan.delivered) && y + 5 < truth.height; ++y) {
        const uint8_t* row = scan.pixels.data() + size_t{static_cast<uint32_t>(y)} * scan.lineBytes;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                sum += std::abs(row[x * channels + c] - (truth.At(x, y + 5, c) >> shift));
                ++count;
            }
        }
    }
    return count ? sum / count : 255.0;
}

TEST_F(ScanFlowTest, GreyAndColourScansDeliverEveryLineAndMatchTheChart) {
    for (int mode : {int{ModeGray}, int{ModeColor24}}) {
        for (int dpi : {150, 300}) {
            SCOPED_TRACE(std::to_string(mode) + " at " + std::to_string(dpi));
            progressCalls.clear();
            const sim::HostRequest request = Request(mode, dpi);
            const ScanResult scan = Scan(request);
            ASSERT_GT(scan.imageLines, 0u);
            EXPECT_EQ(scan.delivered, scan.imageLines);
            EXPECT_EQ(scan.finalStatus, kStatusNoFurtherLine);
            ASSERT_GE(progressCalls.size(), 3u);
            EXPECT_EQ(progressCalls[0], 1);
            EXPECT_EQ(progressCalls[1], 101);
            EXPECT_EQ(progressCalls[2], 201);
            const std::optional<sim::ScanWindow> window = scanner_->State().window;
            ASSERT_TRUE(window.has_value());
            const sim::SampleImage truth = sim::ScannedTruth(*model_, *window, sim::kLampFlatbed);
            const double difference = DifferenceFromTruth(scan, truth);
            std::printf("mode %d at %d dpi: %u lines, mean difference from the ideal scan %.1f\n", mode, dpi,
                        scan.delivered, difference);
            // Shaded scans differ from the ideal image by about 2 levels in 255 (sensor noise
            // and joins); unshaded ones by over 20, misplaced or misaligned ones by over 60.
            EXPECT_LT(difference, 6.0);
        }
    }
}

TEST_F(ScanFlowTest, CancelFromTheProgressRoutineStopsDelivery) {
    cancelAtSecondCall = true;
    const ScanResult scan = Scan(Request(ModeGray, 300));
    EXPECT_EQ(scan.finalStatus, kStatusStoppedByHost);
    EXPECT_EQ(scan.delivered, 101u);
    EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
}

TEST_F(ScanFlowTest, StopAfterAFailedStartFreesTheMemory) {
    ScanParameters p{};
    p.Right = 300;
    p.Bottom = 300;
    p.Resolution = 150;
    p.ScanMode = ModeGray;
    ASSERT_EQ(SetParameters(&p), 1);
    usbscan::WithdrawAll();  // the scanner goes away before the scan starts
    ScanStartRecord start{};
    EXPECT_EQ(StartScan(&start), 0);
    EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
    StopRecord stop{};
    StopScan(&stop);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
    EXPECT_EQ(TheDriver().Run.LineRing(), nullptr);
}

}  // namespace
}  // namespace b58
