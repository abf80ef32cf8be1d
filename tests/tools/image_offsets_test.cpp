// The offsets table hosts crop with, against the virtual scanner's reading of the windows the
// driver programs, for every source, mode, resolution and a range of corners. (The fidelity
// suite checks it on real scans through the entry points.)
#include <gtest/gtest.h>

#include "host/image_offsets.h"
#include "sim/driver_plan.h"

namespace b58 {
namespace {

TEST(ImageOffsets, MatchWhereTheDeviceDeliversTheWindowTheDriverProgrammes) {
    int checked = 0;
    for (int source : {0, 1, 2, 4}) {
        for (int mode : {host::kModeLineArt, host::kModeGray, host::kModeColor24, host::kModeColor48}) {
            for (int dpi : {50, 75, 100, 150, 200, 300, 600, 1200}) {
                for (int left = 0; left < 12; ++left) {
                    for (int top : {0, 1, 7, 300}) {
                        sim::HostRequest s;
                        s.source = source;
                        s.mode = mode;
                        s.resolution = dpi;
                        s.left = left;
                        s.top = top;
                        s.right = left + 600;
                        s.bottom = top + 600;
                        const sim::ScanOffsets device = sim::OffsetsOf(s, sim::PlanDriverScan(s));
                        const host::ImageOffsets table = host::OffsetsOf({mode, dpi, source, left, top});
                        ASSERT_NEAR(table.pixels, device.pixels, 1e-9)
                            << source << " " << mode << " " << dpi << " " << left << " " << top;
                        ASSERT_NEAR(table.lines, device.lines, 1e-9)
                            << source << " " << mode << " " << dpi << " " << left << " " << top;
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 4 * 4 * 8 * 12 * 4);

    // The reference cases start at the area's corner; line mode six sensor pixels left of it.
    EXPECT_EQ(host::OffsetsOf({host::kModeColor24, 300, 0, 0, 0}).sensorPixels, 0);
    EXPECT_EQ(host::OffsetsOf({host::kModeGray, 300, 0, 0, 0}).sensorPixels, -6);
    EXPECT_EQ(host::OffsetsOf({host::kModeColor24, 600, 0, 0, 0}).lines, -5.0);
    const host::CornerCorrection c = host::CorrectionOf(host::OffsetsOf({host::kModeGray, 300, 0, 0, 0}));
    EXPECT_EQ(c.dropColumns, 6);
}

TEST(ImageOffsets, DeliveredWidthRoundsLineArtUpToWholeBytes) {
    EXPECT_EQ(host::DeliveredWidth(host::kModeLineArt, 100, 850), 288);
    EXPECT_EQ(host::DeliveredWidth(host::kModeGray, 100, 850), 283);
    EXPECT_EQ(host::DeliveredWidth(host::kModeColor48, 1200, 850), 850);
}

}  // namespace
}  // namespace b58
