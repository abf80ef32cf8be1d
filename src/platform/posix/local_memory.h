// Blocks handed out by LocalAlloc and by the security calls that allocate (SIDs, access
// lists). Each block carries its kind in a header in front of it, so that freeing it with
// the wrong call (LocalFree on a SID, FreeSid on a list) fails as it should instead of
// going unnoticed, and the live blocks are counted for tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58::platform {

enum class BlockKind : uint32_t {
    kLocal = 0x4C434F4Cu,  // LocalAlloc, and the access lists SetEntriesInAclA returns
    kSid = 0x44495342u,    // AllocateAndInitializeSid
};

// A block of `bytes` (zero-filled if `zeroed`), aligned for any type; null when out of memory.
void* AllocateBlock(BlockKind kind, size_t bytes, bool zeroed);

// Frees a block of `kind`. False, leaving it alone, when `block` is not one.
bool FreeBlock(BlockKind kind, void* block);

}  // namespace b58::platform
