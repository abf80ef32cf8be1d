// Boundary detection and shading against the virtual scanner: the bed's and the adapter's
// edges, and the calibration strip below the bed's origin.
#include "calibration/boundary_detection.h"
#include "calibration/shading_calibration.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/device_discovery.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "sim/virtual_scanner.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr char kOurPath[] = "\\\\?\\usb#vid_1a2b&pid_3c4d#6&11&0&2#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
constexpr AfeValues kFoundAfe{51, 12, 50, 9, 51, 14};
constexpr char kFastScanner[] = "firmware=running,rate=0,start_ms=0,step_us=0,seed=1";

class BoundaryDetectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTraceIndent();
        // The strip wait of 150 s becomes 1.5 s: room for a slow (sanitized) image model.
        platform::SetTimeScale(0.01);
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
    }
    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) CloseScanner(device_);
        device_ = INVALID_HANDLE_VALUE;
        usbscan::WithdrawAll();
        platform::SetDebugSink({});
        platform::SetTimeScale(1.0);
    }

    // Publishes a virtual scanner with extra options and opens it as the driver does.
    void Open(const std::string& extra = "") {
        std::string error;
        auto backend = sim::CreateVirtualScanner(std::string(kFastScanner) + extra, &error);
        ASSERT_NE(backend, nullptr) << error;
        scanner_ = std::dynamic_pointer_cast<sim::VirtualScanner>(backend);
        ASSERT_NE(scanner_, nullptr);
        usbscan::Publish({0, kOurPath, backend});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }

    int RunFlatbed() {
        std::vector<uint16_t> lineTable(3 * 200);
        const ScanOrigin origin = FindFlatbedBounds(Link(), kFoundAfe, lineTable.data());
        origin_.leftbound = origin.leftbound;
        origin_.TopLine = origin.TopLine;
        return origin.status;
    }
    bool Traced(const char* text) const { return trace_.find(text) != std::string::npos; }
    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    std::shared_ptr<sim::VirtualScanner> scanner_;
    TaOrigin origin_;  // where each search leaves leftbound and TopLine
    HANDLE device_ = INVALID_HANDLE_VALUE;
    CommandChannel channel_;
    ImageDataReader reader_;
    std::string trace_;
};

TEST_F(BoundaryDetectionTest, FlatbedFindsTheBedsEdgesAndSendsTheCarriageHome) {
    Open();
    ASSERT_EQ(RunFlatbed(), 1);
    // The dark reference block's inner corner, as the image model places it.
    EXPECT_EQ(origin_.leftbound, 70);
    EXPECT_EQ(origin_.TopLine, 84);
    EXPECT_TRUE(Traced("LeftBound = 70, TopBound = 84")) << trace_;
    EXPECT_FALSE(Traced("boundary is over"));
    EXPECT_EQ(scanner_->ExecutedCount(kCmdCarriageHome), 1u);
    EXPECT_EQ(scanner_->ExecutedCount(kCmdStopScan), 1u);
}

TEST_F(BoundaryDetectionTest, FlatbedWithoutDataFails) {
    // A stream that never delivers: the read is given up after its wait and cancelled. The
    // scanner failed, so no origin is made up for it.
    Open(",stream_end=0");
    EXPECT_EQ(RunFlatbed(), 0);
    EXPECT_FALSE(Traced("LeftBound = 72, TopBound = 86"));
}

TEST_F(BoundaryDetectionTest, FlatbedWhoseScannerRefusesTheHandshakeFails) {
    Open(",handshake_refusals=1000000");
    EXPECT_EQ(RunFlatbed(), 0);
}

TEST_F(BoundaryDetectionTest, FlatbedStopsAtAFailedWindowWithTheOriginCleared) {
    Open(",fail_cmd=0x20");
    origin_.leftbound = 5;
    origin_.TopLine = 5;
    EXPECT_EQ(RunFlatbed(), 0);
    EXPECT_EQ(origin_.leftbound, 0);
    EXPECT_EQ(origin_.TopLine, 0);
    EXPECT_EQ(scanner_->ExecutedCount(kCmdCarriageHome), 0u);
}

TEST_F(BoundaryDetectionTest, ShadingBelowTheFoundOriginFlattensTheWhiteStrip) {
    Open();
    ASSERT_EQ(RunFlatbed(), 1);
    constexpr int kPixels = 600;
    std::vector<uint8_t> r(kStripMaxPixels * 256), g(kStripMaxPixels * 256), b(kStripMaxPixels * 256);
    for (size_t i = 0; i < g.size(); ++i) r[i] = g[i] = b[i] = static_cast<uint8_t>(i);
    const auto shadingLine = static_cast<uint16_t>(origin_.TopLine - 73);
    ShadingRequest request{.startLine = shadingLine,
                           .lineCount = 40,
                           .afe = kFoundAfe,
                           .xDpi = 300,
                           .yDpi = 300,
                           .leftEdge = 72,
                           .pixelMode = true,
                           .widthUnits = kPixels,
                           .pixelFormatCode = 4,
                           .black = {0, 41, 0}};
    ASSERT_EQ(CalibrateShading(Link(), request, {r.data(), g.data(), b.data()}, {}), 1);
    for (int p = 0; p < kPixels; ++p) {
        const uint8_t* map = g.data() + p * 256;
        ASSERT_EQ(map[41], 0) << p;
        ASSERT_EQ(map[255], 255) << p;
        ASSERT_GE(map[150], 129) << p;  // (150 - 41) x 255 / (w - 41) for a white w of 200..255
        ASSERT_LE(map[150], 175) << p;
    }
    EXPECT_EQ(g[kPixels * 256 + 150], 150);  // beyond the strip: identity as it was

    // 48 bits with a dark strip: every pixel's white well above its dark.
    request.BLACKSHADING = 1;
    std::vector<uint16_t> refs[6];
    for (auto& ref : refs) ref.assign(kStripMaxPixels, 1);
    request.pixelMode = false;
    request.dataWidth = 16;
    ASSERT_EQ(CalibrateShading16(Link(), request,
                                 {refs[0].data(), refs[1].data(), refs[2].data(), refs[3].data(),
                                  refs[4].data(), refs[5].data()}),
              1);
    for (int c = 0; c < 3; ++c)
        for (int p = 0; p < kPixels; ++p)
            ASSERT_GT(refs[2 * c][p], refs[2 * c + 1][p] + 30000) << c << " " << p;
    EXPECT_EQ(refs[0][kPixels], 1);
}

class TaBoundaryTest : public BoundaryDetectionTest {
  protected:
    // The adapter's AFE values as its search leaves them, at 300 dpi without a lamp step.
    int Run() { return FindTaBounds(Link(), {{48, 18, 47, 13, 49, 22}, 300, 0}, &origin_); }
    void Prepare() {
        uint8_t lamp[kCommandPacketSize] = {2};  // the adapter's lamp, as its AFE calibration leaves it
        ASSERT_EQ(ProcessCommandMiscControl(nullptr, kReportSilent, Link(), kCmdLampControl, lamp, lamp), 1);
    }
};

TEST_F(TaBoundaryTest, FindsTheAdaptersLitWindowAndHolder) {
    Open();
    Prepare();
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(origin_.leftbound, 372);
    EXPECT_EQ(origin_.TopLine, 63);
    EXPECT_TRUE(origin_.sized);
    EXPECT_EQ(origin_.HWWidth, 700);
    EXPECT_EQ(origin_.HWHeight, 200);
    EXPECT_TRUE(Traced("SWWidth=700,SWHeight=200"));
    EXPECT_TRUE(Traced("LeftSide=372,TopSide=63"));
}

TEST_F(TaBoundaryTest, AShortStripFailsWithTheLeftboundRaisedAndTheTopKept) {
    Open(",stream_end=7000");
    Prepare();
    origin_.leftbound = 10;
    origin_.TopLine = 77;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(origin_.leftbound, 36);
    EXPECT_EQ(origin_.TopLine, 77);
}

}  // namespace
}  // namespace b58
