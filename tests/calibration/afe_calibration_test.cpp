// The AFE searches end to end against the virtual scanner's image model: where they settle,
// what they trace, and what a strip that comes back short leaves behind.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "calibration/afe_calibration.h"
#include "calibration_fixture.h"
#include "support/scratch_directory.h"

namespace b58 {
namespace {

using testing::VirtualScannerTest;

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class AfeCalibrationTest : public VirtualScannerTest {
  protected:
    int Flatbed(uint16_t dpi, int32_t pixelMode = 1, uint16_t format = 4) {
        return Keep(CalibrateAFE(Link(), {0, 2, pixelMode != 0, dpi, format, taMode_, taType_}));
    }
    int Adapter(uint16_t dpi) {
        return Keep(CalibrateAFEForTa(Link(), {450, 2, true, dpi, 4, taMode_, taType_}));
    }
    // What the scan start keeps of a search: the values and black levels it found.
    int Keep(const CalibrationResult& result) {
        last_ = result;
        if (result.found) {
            kept_ = result.afe;
            keptBlack_ = result.black;
        }
        return result.status;
    }
    std::array<int, 6> Afe() const {
        return {kept_.ROffset, kept_.RGain, kept_.GOffset, kept_.GGain, kept_.BOffset, kept_.BGain};
    }
    std::array<int, 3> Blacks() const {
        return {keptBlack_.RMinBlack, keptBlack_.GMinBlack, keptBlack_.BMinBlack};
    }
    // The values the last search returned, as Afe() gives the kept ones.
    std::array<int, 6> Returned() const {
        const AfeValues& v = last_.afe;
        return {v.ROffset, v.RGain, v.GOffset, v.GGain, v.BOffset, v.BGain};
    }
    void SetPrevious() {
        kept_ = {5, 6, 7, 8, 9, 10};
        keptBlack_ = {1, 2, 3};
    }
    CalibrationResult last_;
    AfeValues kept_;
    BlackLevels keptBlack_;
    uint8_t taMode_ = 0;
    uint16_t taType_ = 0;
    void EndStreamsFromStart(uint32_t start) {
        auto* inner = &scanner_->Inner();
        scanner_->OnCommand(0x43, start, [inner] {
            inner->ChangeFaults([](sim::FaultConfig& f) { f.streamEndAfter = 100; });
        });
    }
};

TEST_F(AfeCalibrationTest, FlatbedSearchSettlesInItsBandsWithItsTrace) {
    Plug("seed=1");
    EXPECT_EQ(Flatbed(300), 1);
    // The headroom phase takes the gains down from 12, 9, 14 until the brightest bin stays
    // below full scale.
    EXPECT_EQ(Afe(), (std::array<int, 6>{50, 6, 49, 3, 51, 8}));
    EXPECT_EQ(Blacks(), (std::array<int, 3>{47, 45, 49}));
    for (int black : Blacks()) {
        EXPECT_GE(black, 40);
        EXPECT_LT(black, 50);
    }

    // Passes per phase, each with the values it scanned with and its levels.
    EXPECT_EQ(Count(trace_, "first==offset RMinBlack="), 7u);
    EXPECT_EQ(Count(trace_, "####GAIN RMinBlack="), 4u);
    EXPECT_EQ(Count(trace_, "second===offset RMinBlack="), 9u);
    EXPECT_EQ(Count(trace_, "third===white RMinBlack="), 8u);
    EXPECT_EQ(
        trace_.rfind("\nC4:ROffset=32,RGain,=2,GOffset=32,GGain,=2,BOffset=32,BGain,=2\nC4:first==offset "
                     "RMinBlack=",
                     0),
        0u);
    EXPECT_NE(
        trace_.find("\nC4:ROffset=51,RGain,=12,GOffset=50,GGain,=9,BOffset=51,BGain,=14\nC4:second===offset"),
        std::string::npos);
    EXPECT_EQ(Count(trace_, "\nC4:ROffset="), 28u);

    // Twenty-eight search strips and the closing one; only the first has options 1, 0, 0.
    const auto windows = scanner_->Sent(0x20);
    ASSERT_EQ(windows.size(), 29u);
    EXPECT_EQ(windows.front()[20], 0x01);
    for (size_t i = 1; i < windows.size(); ++i) EXPECT_EQ(windows[i][20], 0x07) << i;
    EXPECT_EQ(scanner_->Inner().State().lamps, 1);
}

TEST_F(AfeCalibrationTest, FlatbedAtLowResolutionClosesWithA300DpiStrip) {
    Plug("seed=1");
    EXPECT_EQ(Flatbed(150), 1);
    EXPECT_EQ(Afe(), (std::array<int, 6>{50, 7, 50, 5, 51, 9}));
    const auto windows = scanner_->Sent(0x20);
    ASSERT_GE(windows.size(), 2u);
    for (size_t i = 0; i + 1 < windows.size(); ++i) EXPECT_EQ(windows[i][12] | (windows[i][13] << 8), 150);
    EXPECT_EQ(windows.back()[12] | (windows.back()[13] << 8), 300);
}

TEST_F(AfeCalibrationTest, OnePlaneSearchMovesRedAndBlueWithGreen) {
    Plug("seed=1");
    EXPECT_EQ(Flatbed(300, 0, 2), 1);
    EXPECT_EQ(last_.afe.ROffset, last_.afe.GOffset);
    EXPECT_EQ(last_.afe.BOffset, last_.afe.GOffset);
    EXPECT_EQ(last_.afe.RGain, last_.afe.GGain);
    EXPECT_EQ(last_.afe.BGain, last_.afe.GGain);
    EXPECT_GE(last_.black.GMinBlack, 40);
    EXPECT_LT(last_.black.GMinBlack, 50);
    // Green settles well inside the pass limits, and the others with it.
    EXPECT_LT(Count(trace_, "first==offset"), 15u);
    EXPECT_LT(Count(trace_, "####GAIN"), 49u);
    EXPECT_LT(Count(trace_, "second===offset"), 60u);
}

TEST_F(AfeCalibrationTest, AdapterSearchSettlesWithoutTrace) {
    Plug("seed=1");
    taMode_ = 1;
    taType_ = 1;
    EXPECT_EQ(Adapter(300), 1);
    EXPECT_EQ(Afe(), (std::array<int, 6>{48, 18, 47, 13, 49, 22}));
    EXPECT_EQ(trace_, "");
    // Six offset passes, seven gain passes, six fine passes; all under the adapter lamp.
    EXPECT_EQ(scanner_->Sent(0x43).size(), 19u);
    for (const auto& lamp : scanner_->Sent(0x25)) EXPECT_EQ(lamp[2], 2);
    const auto windows = scanner_->Sent(0x20);
    EXPECT_EQ(windows.front()[20], 0x01);
    EXPECT_EQ(windows.back()[20], 0x07);
}

TEST_F(AfeCalibrationTest, ShortStripMidSearchKeepsThePreviousValues) {
    Plug("seed=1");
    SetPrevious();
    EndStreamsFromStart(9);  // the second strip of the gain phase
    EXPECT_EQ(Flatbed(300), 0);
    EXPECT_FALSE(last_.found);
    EXPECT_EQ(Afe(), (std::array<int, 6>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Blacks(), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(Count(trace_, "####GAIN"), 1u);
    EXPECT_EQ(scanner_->Sent(0x43).size(), 9u);

    Plug("seed=1");
    taMode_ = 1;
    taType_ = 2;
    EndStreamsFromStart(15);
    EXPECT_EQ(Adapter(300), 0);
    EXPECT_FALSE(last_.found);
    EXPECT_EQ(Afe(), (std::array<int, 6>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Blacks(), (std::array<int, 3>{1, 2, 3}));
}

TEST_F(AfeCalibrationTest, ShortClosingStripStillStoresTheResults) {
    Plug("seed=1");
    SetPrevious();
    EndStreamsFromStart(29);
    EXPECT_EQ(Flatbed(300), 0);
    EXPECT_TRUE(last_.found);
    EXPECT_EQ(Returned(), (std::array<int, 6>{50, 6, 49, 3, 51, 8}));
    EXPECT_EQ(Afe(), Returned());
    EXPECT_EQ(Blacks(), (std::array<int, 3>{47, 45, 49}));
}

TEST_F(AfeCalibrationTest, SearchesTakeTheirBandsFromTheSettingsBesideTheModule) {
    b58::testing::ScratchDirectory folder;
    folder.Write("ztb58.ini", "[ZTK]\nMIN_DARK=30\nMAX_DARK=35\nLEVEL2DONE=0\nFACTOR=90\n");
    platform::SetModuleFileNameOverride("C:" + platform::ToWindowsPath(folder.Name("b58spi.dll")));
    Plug("seed=1");
    EXPECT_EQ(Flatbed(300), 1);
    for (int black : Blacks()) {
        EXPECT_GE(black, 30);
        EXPECT_LT(black, 35);
    }
    EXPECT_EQ(last_.shading.FACTOR, 90);  // kept for the shading

    // Without the adapter's fine pass: six offset and seven gain strips.
    Plug("seed=1");
    taMode_ = 1;
    taType_ = 1;
    EXPECT_EQ(Adapter(300), 1);
    EXPECT_EQ(scanner_->Sent(0x43).size(), 13u);
    platform::SetModuleFileNameOverride("");
}

}  // namespace
}  // namespace b58
