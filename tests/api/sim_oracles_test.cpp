// The virtual scanner's own copies of the driver's arithmetic (sim/driver_plan.cpp, the
// request to the programmed window; sim/calibration_search.cpp, the AFE searches) held
// against the driver: after StartScan the scanner holds exactly the window and the AFE
// values the copies work out for the same request.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sim/calibration_search.h"
#include "sim/driver_plan.h"
#include "sim/scanner_model.h"
#include "sim/virtual_scanner.h"
#include "virtual_scanner_fixture.h"

namespace b58 {
namespace {

std::string Describe(const sim::ScanWindow& w) {
    std::ostringstream out;
    out << "start " << w.startPixel << ',' << w.startLine << " hw " << w.hwWidth << 'x' << w.hwHeight
        << " format " << +w.formatByte << " option " << +w.optionByte << " dpi " << w.xDpi << " blocks "
        << w.lineBlocks << " bytes " << w.lineBytes << " lines " << w.linesToDeliver << " options20 "
        << +w.options20 << " mode " << +w.modeByte << " width " << w.dataWidth << " trailing "
        << w.trailingWord;
    return out.str();
}

std::string Describe(const sim::AfeSettings& a, bool greenOnly) {
    std::ostringstream out;
    for (int c = 0; c < 3; ++c)
        if (!greenOnly || c == 1) out << "offset " << +a.offset[c] << " gain " << +a.gain[c] << "; ";
    return out.str();
}

class SimOracleTest : public testing::VirtualScannerTest {
  protected:
    void SetUp() override {
        VirtualScannerTest::SetUp();
        scanner_ = PublishVirtualScanner("seed=1,rate=0");
        ASSERT_NE(scanner_, nullptr);
        ASSERT_EQ(_Open(), 1);
    }
    void TearDown() override {
        StopRecord stop{};
        if (TheDriver().Run.ReaderAlive()) StopScan(&stop);
        _Close();
        ControllerTest::TearDown();
    }
    std::shared_ptr<sim::VirtualScanner> scanner_;
};

TEST_F(SimOracleTest, ScannerHoldsTheWindowAndAfeTheCopiesWorkOut) {
    const auto model = sim::ScannerModel::WithTestCharts(1);
    struct Case {
        int source, mode, dpi;
    };
    std::vector<Case> cases;
    for (int mode : {int{ModeLineArt}, int{ModeGray}, int{ModeColor24}, int{ModeColor48}})
        for (int dpi : {50, 100, 150, 300, 600}) cases.push_back({0, mode, dpi});
    for (int source : {1, 2, 4})
        for (int mode : {int{ModeColor24}, int{ModeColor48}}) cases.push_back({source, mode, 150});
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << "source " << k.source << " mode " << k.mode << " at " << k.dpi);
        sim::HostRequest request;
        request.source = k.source;
        request.left = 120;
        request.top = 90;
        request.right = k.source ? 400 : 1000;
        request.bottom = k.source ? 230 : 500;
        request.resolution = k.dpi;
        request.mode = k.mode;
        ScanParameters p{};
        p.Left = static_cast<uint16_t>(request.left);
        p.Top = static_cast<uint16_t>(request.top);
        p.Right = static_cast<uint16_t>(request.right);
        p.Bottom = static_cast<uint16_t>(request.bottom);
        p.Resolution = static_cast<uint16_t>(k.dpi);
        p.ScanMode = static_cast<uint16_t>(k.mode);
        p.Threshold = 128;
        p.ScanSource = static_cast<uint8_t>(k.source);
        ASSERT_EQ(SetParameters(&p), 1);
        ScanParametersInfo info{};
        ASSERT_EQ(GetParameters(&info), 1);
        ScanStartRecord start{};
        ASSERT_EQ(StartScan(&start), 1);
        const sim::ControllerState state = scanner_->State();
        StopRecord stop{};
        ASSERT_EQ(StopScan(&stop), 1);
        ASSERT_TRUE(state.window.has_value());

        const sim::DriverScan plan = sim::PlanDriverScan(request);
        EXPECT_EQ(Describe(*state.window), Describe(plan.window));
        EXPECT_EQ(+info.LineBytes, static_cast<uint32_t>(plan.lineBytes));
        EXPECT_EQ(+info.ImageLines, static_cast<uint32_t>(plan.imageLines));

        const sim::ScanWindow& w = *state.window;
        const sim::AfeSearchResult search =
            k.source == 0 ? sim::RunFlatbedAfeSearch(model, w.xDpi, w.PixelMode(), w.PixelFormatCode())
                          : sim::RunTaAfeSearch(model, w.xDpi, w.PixelMode(), w.PixelFormatCode(), k.source);
        // A one-plane strip fills green only, so grey and line art settle green alone.
        const bool greenOnly = w.PixelFormatCode() != 4;
        EXPECT_EQ(Describe(state.afe, greenOnly), Describe(search.wire, greenOnly));
    }
}

}  // namespace
}  // namespace b58
