#include "platform/posix/local_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/platform_control.h"
#include "platform/posix/security_failures.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

struct alignas(std::max_align_t) BlockHeader {
    uint32_t kind;
    uint32_t reserved;
    size_t bytes;
};

std::atomic<size_t> g_liveBlocks{0};

BlockHeader* HeaderOf(void* block) {
    return static_cast<BlockHeader*>(block) - 1;
}

}  // namespace

void* AllocateBlock(BlockKind kind, size_t bytes, bool zeroed) {
    if (bytes > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    size_t total = sizeof(BlockHeader) + bytes;
    void* raw = zeroed ? std::calloc(1, total) : std::malloc(total);
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    header->kind = static_cast<uint32_t>(kind);
    header->reserved = 0;
    header->bytes = bytes;
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return header + 1;
}

bool FreeBlock(BlockKind kind, void* block) {
    BlockHeader* header = HeaderOf(block);
    if (header->kind != static_cast<uint32_t>(kind)) return false;
    std::free(header);
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

size_t LiveLocalBlocks() {
    return g_liveBlocks.load(std::memory_order_relaxed);
}

}  // namespace b58::platform

using namespace b58::platform;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (SecurityCallFails(SecurityCall::kLocalAlloc)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    constexpr UINT kMoveable = 0x0002u;  // relocatable blocks are not offered here
    if ((flags & kMoveable) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    void* block = AllocateBlock(BlockKind::kLocal, bytes, (flags & LMEM_ZEROINIT) != 0);
    if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr) return nullptr;
    if (!FreeBlock(BlockKind::kLocal, memory)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    return nullptr;
}
