#include "scan/scan_run.h"

#include <cstdlib>
#include <cstring>

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

template <typename T>
void FreeAndClear(T*& block) {
    std::free(block);
    block = nullptr;
}

}  // namespace

bool ScanRun::AllocateMemory(uint16_t dataWidth, uint16_t* hostGammaTable, ScanAllocator allocate) {
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

    for (int plane = 0; plane < kPlanes; ++plane) pixelMaps_[plane] = maps[plane];
    lineRing_ = ring;
    const size_t slotBytes = kMaxLinePixels * (dataWidth == 16 ? 2u : 1u);
    for (size_t plane = 0; plane < kPlanes; ++plane) {
        for (size_t slot = 0; slot < kRingSlots; ++slot) {
            planeLines_[plane][slot] = ring + (plane * kRingSlots + slot) * slotBytes;
            lineFree_[plane][slot].store(1, std::memory_order_release);
        }
    }
    memoryAllocated_ = true;
    gammaTable_ = driverGamma ? gamma : hostGammaTable;
    driverGammaTable_ = driverGamma;
    return true;
}

bool ScanRun::AllocateShadingReferences() {
    bool complete = true;
    for (uint16_t*& ref : references_) {
        std::free(ref);
        ref = static_cast<uint16_t*>(std::calloc(1, kShadingReferenceBytes));
        complete = complete && ref != nullptr;
    }
    return complete;
}

void ScanRun::FreeMemory() {
    for (uint16_t*& ref : references_) FreeAndClear(ref);
    if (memoryAllocated_) {
        for (uint8_t*& map : pixelMaps_) FreeAndClear(map);
        FreeAndClear(lineRing_);
        for (auto& plane : planeLines_) {
            for (uint8_t*& slot : plane) slot = nullptr;
        }
        memoryAllocated_ = false;
    }
    if (driverGammaTable_) std::free(gammaTable_);
    gammaTable_ = nullptr;
    driverGammaTable_ = false;
}

bool ScanRun::StartReader(LPTHREAD_START_ROUTINE routine, const ReaderContext& context) {
    // A living reader still reads its context.
    if (readerThread_ != nullptr) return false;
    readerContext_ = context;
    readerThread_ = CreateThread(nullptr, 1, routine, &readerContext_, 0, &readerThreadId_);
    return readerThread_ != nullptr;
}

void ScanRun::ForgetReader() {
    if (readerThread_ != nullptr) CloseHandle(readerThread_);
    readerThread_ = nullptr;
    readerThreadId_ = 0;
}

}  // namespace b58
