#include <gtest/gtest.h>

#include "state/driver_state.h"

namespace b58 {
namespace {

TEST(DriverState, LoadTimeValues) {
    ResetDriverState();
    EXPECT_EQ(g_state.DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(g_state.DeviceMutex, nullptr);
    EXPECT_EQ(g_state.DeviceKind, 4);
    EXPECT_EQ(g_state.LastStatus, 0);
    EXPECT_EQ(g_state.FACTOR, 100);
    EXPECT_EQ(g_state.Session.Afe, (AfeValues{32, 2, 32, 2, 32, 2}));
    for (uint8_t b : g_state.DeviceInfoBlock) EXPECT_EQ(b, 0);
    EXPECT_FALSE(g_state.Run.StopRequested());
    EXPECT_FALSE(g_state.Run.ReaderFailed());
}

TEST(DriverState, ResetUndoesChanges) {
    g_state.DeviceKind = 9;
    g_state.Run.ReleaseLine(2, 1199);
    g_state.Channel.Command()[5] = 0x55;
    ResetDriverState();
    EXPECT_EQ(g_state.DeviceKind, 4);
    EXPECT_FALSE(g_state.Run.SlotFree(2, 1199));
    EXPECT_EQ(g_state.Channel.Command()[5], 0);
}

}  // namespace
}  // namespace b58
