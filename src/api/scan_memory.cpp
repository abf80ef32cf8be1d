#include "api/scan_memory.h"

#include <cstdlib>
#include <cstring>

#include "state/driver_state.h"

namespace b58 {
namespace {

constexpr size_t kMapSetBytes = kMaxLinePixels * kPixelMapBytes;

void* DefaultAllocate(size_t bytes) {
    return std::malloc(bytes);
}

void FillIdentityMaps(uint8_t* maps) {
    for (size_t pixel = 0; pixel < kMaxLinePixels; ++pixel) {
        uint8_t* map = maps + pixel * kPixelMapBytes;
        for (size_t j = 0; j < kPixelMapBytes; ++j) map[j] = static_cast<uint8_t>(j);
    }
}

void FreeAndClear(uint8_t*& block) {
    std::free(block);
    block = nullptr;
}
void FreeAndClear(uint16_t*& block) {
    std::free(block);
    block = nullptr;
}

}  // namespace

bool AllocateScanMemory(uint16_t dataWidth, uint16_t* hostGammaTable, ScanAllocator allocate) {
    if (allocate == nullptr) allocate = DefaultAllocate;
    const size_t gammaEntries = dataWidth == 16 ? kGammaEntries16 : kGammaEntries8;
    const bool driverGamma = hostGammaTable == nullptr;

    uint8_t* maps[kPlanes] = {};
    uint8_t* ring = nullptr;
    uint16_t* gamma = nullptr;
    bool complete = true;
    for (uint8_t*& map : maps) {
        map = static_cast<uint8_t*>(allocate(kMapSetBytes));
        complete = complete && map != nullptr;
    }
    ring = static_cast<uint8_t*>(allocate(kLineRingBytes));
    complete = complete && ring != nullptr;
    if (driverGamma) {
        gamma = static_cast<uint16_t*>(allocate(kPlanes * gammaEntries * sizeof(uint16_t)));
        complete = complete && gamma != nullptr;
    }
    if (!complete) {
        for (uint8_t* map : maps) std::free(map);
        std::free(ring);
        std::free(gamma);
        return false;
    }

    for (uint8_t* map : maps) FillIdentityMaps(map);
    std::memset(ring, 0, 4);
    if (driverGamma) {
        for (size_t i = 0; i < kPlanes * gammaEntries; ++i)
            gamma[i] = static_cast<uint16_t>(i % gammaEntries);
    }

    g_state.PixelMapR = maps[0];
    g_state.PixelMapG = maps[1];
    g_state.PixelMapB = maps[2];
    g_state.LineRing = ring;
    const size_t slotBytes = kMaxLinePixels * (dataWidth == 16 ? 2u : 1u);
    for (size_t plane = 0; plane < kPlanes; ++plane) {
        for (size_t slot = 0; slot < kRingSlots; ++slot) {
            g_state.PlaneLines[plane][slot] = ring + (plane * kRingSlots + slot) * slotBytes;
            g_state.LineFree[plane][slot].store(1, std::memory_order_release);
        }
    }
    g_state.WorkingMemoryAllocated = 1;
    g_state.GammaTable = driverGamma ? gamma : hostGammaTable;
    g_state.DriverGammaTable = driverGamma ? 1 : 0;
    return true;
}

void FreeScanMemory() {
    FreeAndClear(g_state.WhiteRefR);
    FreeAndClear(g_state.WhiteRefG);
    FreeAndClear(g_state.WhiteRefB);
    FreeAndClear(g_state.DarkRefR);
    FreeAndClear(g_state.DarkRefG);
    FreeAndClear(g_state.DarkRefB);
    if (g_state.WorkingMemoryAllocated) {
        FreeAndClear(g_state.PixelMapR);
        FreeAndClear(g_state.PixelMapG);
        FreeAndClear(g_state.PixelMapB);
        FreeAndClear(g_state.LineRing);
        for (auto& plane : g_state.PlaneLines) {
            for (uint8_t*& slot : plane) slot = nullptr;
        }
        g_state.WorkingMemoryAllocated = 0;
    }
    if (g_state.DriverGammaTable) std::free(g_state.GammaTable);
    g_state.GammaTable = nullptr;
    g_state.DriverGammaTable = 0;
}

}  // namespace b58
