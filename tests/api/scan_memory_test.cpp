#include "scan/scan_run.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace b58 {
namespace {

class ScanRunMemory : public ::testing::Test {
  protected:
    ScanRun run_;  // frees what a case leaves when it goes
};

void ExpectIdentityMaps(const uint8_t* maps) {
    ASSERT_NE(maps, nullptr);
    for (size_t pixel : {size_t{0}, size_t{1}, size_t{1850}, size_t{kMaxLinePixels - 1}}) {
        for (size_t j = 0; j < kPixelMapBytes; ++j) ASSERT_EQ(maps[pixel * kPixelMapBytes + j], j);
    }
}

void ExpectRingLayout(const ScanRun& run, size_t slotBytes) {
    const uint8_t* ring = run.LineRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring[0] | ring[1] | ring[2] | ring[3], 0);
    constexpr uint32_t kSlots = kRingSlots;
    for (int plane = 0; plane < kPlanes; ++plane) {
        EXPECT_EQ(run.PlaneLines(plane, 0), ring + static_cast<size_t>(plane) * kSlots * slotBytes);
        for (uint32_t slot = 1; slot < kSlots; ++slot) {
            ASSERT_EQ(run.PlaneLines(plane, slot) - run.PlaneLines(plane, slot - 1),
                      static_cast<ptrdiff_t>(slotBytes));
        }
        for (uint32_t slot = 0; slot < kSlots; ++slot) ASSERT_TRUE(run.SlotFree(plane, slot));
    }
}

TEST_F(ScanRunMemory, EightBitSetWithDriverGamma) {
    ASSERT_TRUE(run_.AllocateMemory(8, nullptr));
    EXPECT_EQ(run_.WorkingMemoryAllocated(), 1);
    ExpectIdentityMaps(run_.PixelMapR());
    ExpectIdentityMaps(run_.PixelMapG());
    ExpectIdentityMaps(run_.PixelMapB());
    ExpectRingLayout(run_, 3700);
    EXPECT_EQ(run_.PlaneLines(1, 0) - run_.LineRing(), 4'440'000);
    EXPECT_EQ(run_.PlaneLines(2, 0) - run_.LineRing(), 8'880'000);
    ASSERT_EQ(run_.DriverGammaTable(), 1);
    for (size_t i = 0; i < 3 * kGammaEntries8; ++i) ASSERT_EQ(run_.GammaTable()[i], i % 256);
}

TEST_F(ScanRunMemory, SixteenBitSetFillsTheWholeRing) {
    ASSERT_TRUE(run_.AllocateMemory(16, nullptr));
    ExpectRingLayout(run_, 7400);
    EXPECT_EQ(run_.PlaneLines(1, 0) - run_.LineRing(), 8'880'000);
    EXPECT_EQ(run_.PlaneLines(2, 0) - run_.LineRing(), 17'760'000);
    EXPECT_EQ(run_.PlaneLines(2, kRingSlots - 1) + 7400, run_.LineRing() + kLineRingBytes);
    // Three identity tables of 65536 entries each.
    for (size_t i = 0; i < 3 * kGammaEntries16; ++i) ASSERT_EQ(run_.GammaTable()[i], i % 65536);
}

TEST_F(ScanRunMemory, HostGammaIsUsedInPlaceAndNeverFreed) {
    uint16_t hostTable[3 * 256] = {};
    ASSERT_TRUE(run_.AllocateMemory(8, hostTable));
    EXPECT_EQ(run_.GammaTable(), hostTable);
    EXPECT_EQ(run_.DriverGammaTable(), 0);
    run_.FreeMemory();  // freeing a stack table would trip the sanitizers
    EXPECT_EQ(run_.GammaTable(), nullptr);
}

TEST_F(ScanRunMemory, FreeClearsEverythingAndMayRepeat) {
    ASSERT_TRUE(run_.AllocateMemory(16, nullptr));
    ASSERT_TRUE(run_.AllocateShadingReferences());
    run_.FreeMemory();
    EXPECT_EQ(run_.WorkingMemoryAllocated(), 0);
    EXPECT_EQ(run_.PixelMapR(), nullptr);
    EXPECT_EQ(run_.LineRing(), nullptr);
    EXPECT_EQ(run_.PlaneLines(2, kRingSlots - 1), nullptr);
    EXPECT_EQ(run_.GammaTable(), nullptr);
    EXPECT_EQ(run_.DriverGammaTable(), 0);
    EXPECT_EQ(run_.WhiteRefR(), nullptr);
    EXPECT_EQ(run_.DarkRefB(), nullptr);
    run_.FreeMemory();
}

// Fails the n-th allocation (counting from 1) and records how many were asked for.
int g_failAt = 0;
int g_calls = 0;
void* FailingAllocate(size_t bytes) {
    ++g_calls;
    return g_calls == g_failAt ? nullptr : std::malloc(bytes);
}

TEST_F(ScanRunMemory, AnyFailedAllocationLeavesNothingBehind) {
    // Maps R, G, B, the ring, the driver's gamma tables: five blocks.
    for (g_failAt = 1; g_failAt <= 5; ++g_failAt) {
        g_calls = 0;
        EXPECT_FALSE(run_.AllocateMemory(16, nullptr, FailingAllocate)) << g_failAt;
        EXPECT_EQ(g_calls, 5);
        EXPECT_EQ(run_.WorkingMemoryAllocated(), 0);
        EXPECT_EQ(run_.PixelMapR(), nullptr);
        EXPECT_EQ(run_.LineRing(), nullptr);
        EXPECT_EQ(run_.GammaTable(), nullptr);
        EXPECT_EQ(run_.PlaneLines(0, 0), nullptr);
        EXPECT_FALSE(run_.SlotFree(0, 0));
    }
    // The leak checker of the address-sanitizer build confirms the partial sets were freed.
}

}  // namespace
}  // namespace b58
