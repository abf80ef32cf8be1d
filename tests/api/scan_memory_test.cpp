#include "api/scan_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "state/driver_state.h"

namespace b58 {
namespace {

class ScanMemory : public ::testing::Test {
  protected:
    void SetUp() override { ResetDriverState(); }
    void TearDown() override { FreeScanMemory(); }
};

void ExpectIdentityMaps(const uint8_t* maps) {
    ASSERT_NE(maps, nullptr);
    for (size_t pixel : {size_t{0}, size_t{1}, size_t{1850}, size_t{kMaxLinePixels - 1}}) {
        for (size_t j = 0; j < kPixelMapBytes; ++j) ASSERT_EQ(maps[pixel * kPixelMapBytes + j], j);
    }
}

void ExpectRingLayout(size_t slotBytes) {
    const uint8_t* ring = g_state.LineRing;
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring[0] | ring[1] | ring[2] | ring[3], 0);
    for (size_t plane = 0; plane < kPlanes; ++plane) {
        EXPECT_EQ(g_state.PlaneLines[plane][0], ring + plane * kRingSlots * slotBytes);
        for (size_t slot = 1; slot < kRingSlots; ++slot) {
            ASSERT_EQ(g_state.PlaneLines[plane][slot] - g_state.PlaneLines[plane][slot - 1],
                      static_cast<ptrdiff_t>(slotBytes));
        }
        for (const auto& flag : g_state.LineFree[plane]) ASSERT_EQ(flag.load(), 1);
    }
}

TEST_F(ScanMemory, EightBitSetWithDriverGamma) {
    ASSERT_TRUE(AllocateScanMemory(8, nullptr));
    EXPECT_EQ(g_state.WorkingMemoryAllocated, 1);
    ExpectIdentityMaps(g_state.PixelMapR);
    ExpectIdentityMaps(g_state.PixelMapG);
    ExpectIdentityMaps(g_state.PixelMapB);
    ExpectRingLayout(3700);
    EXPECT_EQ(g_state.PlaneLines[1][0] - g_state.LineRing, 4'440'000);
    EXPECT_EQ(g_state.PlaneLines[2][0] - g_state.LineRing, 8'880'000);
    ASSERT_EQ(g_state.DriverGammaTable, 1);
    for (size_t i = 0; i < 3 * kGammaEntries8; ++i) ASSERT_EQ(g_state.GammaTable[i], i % 256);
}

TEST_F(ScanMemory, SixteenBitSetFillsTheWholeRing) {
    ASSERT_TRUE(AllocateScanMemory(16, nullptr));
    ExpectRingLayout(7400);
    EXPECT_EQ(g_state.PlaneLines[1][0] - g_state.LineRing, 8'880'000);
    EXPECT_EQ(g_state.PlaneLines[2][0] - g_state.LineRing, 17'760'000);
    EXPECT_EQ(g_state.PlaneLines[2][kRingSlots - 1] + 7400, g_state.LineRing + kLineRingBytes);
    // Three identity tables of 65536 entries each.
    for (size_t i = 0; i < 3 * kGammaEntries16; ++i) ASSERT_EQ(g_state.GammaTable[i], i % 65536);
}

TEST_F(ScanMemory, HostGammaIsUsedInPlaceAndNeverFreed) {
    uint16_t hostTable[3 * 256] = {};
    ASSERT_TRUE(AllocateScanMemory(8, hostTable));
    EXPECT_EQ(g_state.GammaTable, hostTable);
    EXPECT_EQ(g_state.DriverGammaTable, 0);
    FreeScanMemory();  // freeing a stack table would trip the sanitizers
    EXPECT_EQ(g_state.GammaTable, nullptr);
}

TEST_F(ScanMemory, FreeClearsEverythingAndMayRepeat) {
    ASSERT_TRUE(AllocateScanMemory(16, nullptr));
    g_state.WhiteRefR = static_cast<uint16_t*>(std::calloc(14800, 2));
    g_state.DarkRefB = static_cast<uint16_t*>(std::calloc(14800, 2));
    FreeScanMemory();
    EXPECT_EQ(g_state.WorkingMemoryAllocated, 0);
    EXPECT_EQ(g_state.PixelMapR, nullptr);
    EXPECT_EQ(g_state.LineRing, nullptr);
    EXPECT_EQ(g_state.PlaneLines[2][kRingSlots - 1], nullptr);
    EXPECT_EQ(g_state.GammaTable, nullptr);
    EXPECT_EQ(g_state.DriverGammaTable, 0);
    EXPECT_EQ(g_state.WhiteRefR, nullptr);
    EXPECT_EQ(g_state.DarkRefB, nullptr);
    FreeScanMemory();
}

// Fails the n-th allocation (counting from 1) and records how many were asked for.
int g_failAt = 0;
int g_calls = 0;
void* FailingAllocate(size_t bytes) {
    ++g_calls;
    return g_calls == g_failAt ? nullptr : std::malloc(bytes);
}

TEST_F(ScanMemory, AnyFailedAllocationLeavesNothingBehind) {
    // Maps R, G, B, the ring, the driver's gamma tables: five blocks.
    for (g_failAt = 1; g_failAt <= 5; ++g_failAt) {
        g_calls = 0;
        EXPECT_FALSE(AllocateScanMemory(16, nullptr, FailingAllocate)) << g_failAt;
        EXPECT_EQ(g_calls, 5);
        EXPECT_EQ(g_state.WorkingMemoryAllocated, 0);
        EXPECT_EQ(g_state.PixelMapR, nullptr);
        EXPECT_EQ(g_state.LineRing, nullptr);
        EXPECT_EQ(g_state.GammaTable, nullptr);
        EXPECT_EQ(g_state.PlaneLines[0][0], nullptr);
        EXPECT_EQ(g_state.LineFree[0][0].load(), 0);
    }
    // The leak checker of the address-sanitizer build confirms the partial sets were freed.
}

}  // namespace
}  // namespace b58
