#include <gtest/gtest.h>

#include "api/driver.h"

namespace b58 {
namespace {

TEST(Driver, LoadTimeValues) {
    ResetDriver();
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
    EXPECT_EQ(TheDriver().DeviceKind, 4);
    EXPECT_EQ(TheDriver().LastStatus, 0);
    EXPECT_EQ(TheDriver().Shading.FACTOR, 100);
    EXPECT_EQ(TheDriver().Session.Afe, (AfeValues{32, 2, 32, 2, 32, 2}));
    for (uint8_t b : TheDriver().DeviceInfoBlock) EXPECT_EQ(b, 0);
    EXPECT_FALSE(TheDriver().Run.StopRequested());
    EXPECT_FALSE(TheDriver().Run.ReaderFailed());
}

TEST(Driver, ResetUndoesChanges) {
    TheDriver().DeviceKind = 9;
    TheDriver().Run.ReleaseLine(2, 1199);
    TheDriver().Channel.Command()[5] = 0x55;
    ResetDriver();
    EXPECT_EQ(TheDriver().DeviceKind, 4);
    EXPECT_FALSE(TheDriver().Run.SlotFree(2, 1199));
    EXPECT_EQ(TheDriver().Channel.Command()[5], 0);
}

}  // namespace
}  // namespace b58
