// The device's even spread held against the driver's own geometry routine: over many
// windows the device keeps exactly as many pixels and lines within the window as the driver
// counts (the driver rounds an odd pixel count up by one, which the device then takes from
// just past the counted range).
#include <gtest/gtest.h>

#include "sim/driver_plan.h"
#include "sim/even_spread.h"
#include "sim/sensor_model.h"

#include "contract/scanner_model.h"
#include "device/device_discovery.h"
#include "device/scan_geometry.h"
#include "platform/usbscan/device_names.h"

namespace b58::sim {
namespace {

int DeviceCount(int base, int target, int count) {
    int kept = 0;
    while (EvenSpreadPosition(kept, base, target) < count) ++kept;
    return kept;
}

TEST(DriverGeometry, DeviceKeepsWhatTheDriversRoutineCounts) {
    for (uint16_t baseY : {uint16_t{300}, uint16_t{600}}) {
        for (uint16_t target = 1; target <= 300; target += (target < 20 ? 1 : 7)) {
            for (uint16_t count :
                 {uint16_t{1}, uint16_t{9}, uint16_t{96}, uint16_t{511}, uint16_t{2550}, uint16_t{3700}}) {
                const uint16_t targetY = static_cast<uint16_t>(baseY == 600 ? 2 * target : target);
                const ScanGeometry geometry = ComputeScanGeometry(
                    {kGeometrySizesOnly, 0, 2, 300, baseY, target, targetY, count, count}, nullptr);
                ASSERT_EQ(geometry.status, 1);
                const uint16_t hwWidth = geometry.HWWidth, swWidth = geometry.SWWidth,
                               swHeight = geometry.SWHeight;
                const int across = DeviceCount(300, target, count);
                EXPECT_EQ(swWidth, across + across % 2) << "target " << target << " count " << count;
                EXPECT_EQ(swHeight, DeviceCount(baseY, targetY, count))
                    << "target " << targetY << " count " << count;
                // The sim's mirror of the routine, used for its offsets table, agrees too.
                const SpreadSizes mirror = DriverSpreadSizes(300, baseY, target, targetY, count, count);
                EXPECT_EQ(mirror.swWidth, swWidth);
                EXPECT_EQ(mirror.hwWidth, hwWidth);
                EXPECT_EQ(mirror.swHeight, swHeight);
            }
        }
    }
}

// The virtual scanner is built to the driver's model table: its sensor chips are the
// segments the join repair works on, and the interface it publishes is the one the driver
// looks for.
TEST(DriverModel, VirtualScannerMatchesTheModelTable) {
    EXPECT_EQ(sensor::kChipPixels, Model().sensor.segmentPixels);
    for (int index : {0, 9})
        EXPECT_TRUE(IsScannerInterfacePath(usbscan::DefaultInterfacePath(index).c_str()));
    EXPECT_FALSE(IsScannerInterfacePath("\\\\?\\usb#vid_1a2b&pid_0000#5&0&1"));
}

}  // namespace
}  // namespace b58::sim
