// The per-scan working memory: the pixel maps, the raw line ring with its slot addresses and
// free flags, and the driver's own identity gamma tables when the host gives none.
// SetParameters allocates it, StopScan frees it (and so does the next SetParameters).
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58 {

inline constexpr size_t kPixelMapBytes = 256;
inline constexpr size_t kGammaEntries8 = 256;
inline constexpr size_t kGammaEntries16 = 65536;

// Returns memory that std::free releases, or null. Tests pass one that fails on purpose.
using ScanAllocator = void* (*)(size_t bytes);

// Allocates and initialises the whole set for samples of `dataWidth` bits (16, or 8 for
// anything else) and stores it in the driver state: identity pixel maps, the ring planes
// and slot addresses, every LineFree flag 1, and GammaTable (the host's table when
// `hostGammaTable` is not null, else identity tables the driver owns). Either everything
// is allocated or nothing is and false comes back with the driver state untouched. The
// previous set must have been freed.
bool AllocateScanMemory(uint16_t dataWidth, uint16_t* hostGammaTable, ScanAllocator allocate = nullptr);

// Frees whatever per-scan memory exists (pixel maps, ring, the driver's gamma tables, the
// 16-bit shading references, which must come from std::malloc or std::calloc) and clears the pointers, slot
// addresses and flags. A host gamma table is only forgotten. Safe to call when nothing is allocated. Never
// while a reader thread can still touch the ring.
void FreeScanMemory();

}  // namespace b58
