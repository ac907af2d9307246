// The memory ceiling as the engine's allocator.
#include "renderer/engine_limits.h"

#include <cstdlib>

namespace {

// Every block carries its size in front of it; 16 bytes keep the block as aligned as malloc's.
struct alignas(16) BlockHeader {
    size_t size;
};

BlockHeader* HeaderOf(void* block) noexcept
{
    return static_cast<BlockHeader*>(block) - 1;
}

}  // namespace

MemoryCeiling::MemoryCeiling(size_t ceilingBytes) noexcept : m_ceiling(ceilingBytes)
{
    m_allocator.user = this;
    m_allocator.malloc = &MemoryCeiling::Allocate;
    m_allocator.realloc = &MemoryCeiling::Reallocate;
    m_allocator.free = &MemoryCeiling::Free;
}

bool MemoryCeiling::Admit(size_t oldSize, size_t newSize) noexcept
{
    const size_t others = m_inUse - oldSize;
    if (newSize > m_ceiling || others > m_ceiling - newSize) {
        m_reached = true;
        return false;
    }
    m_inUse = others + newSize;
    if (m_inUse > m_peak) {
        m_peak = m_inUse;
    }
    return true;
}

void* MemoryCeiling::Allocate(void* self, size_t size)
{
    MemoryCeiling& ceiling = *static_cast<MemoryCeiling*>(self);
    if (!ceiling.Admit(0, size)) {
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!header) {
        // The system's refusal (the job's memory limit, say) is a bound reached like the ceiling.
        ceiling.m_reached = true;
        ceiling.m_inUse -= size;
        return nullptr;
    }
    header->size = size;
    return header + 1;
}

void* MemoryCeiling::Reallocate(void* self, void* block, size_t size)
{
    if (!block) {
        return Allocate(self, size);
    }
    MemoryCeiling& ceiling = *static_cast<MemoryCeiling*>(self);
    BlockHeader* header = HeaderOf(block);
    const size_t oldSize = header->size;
    if (!ceiling.Admit(oldSize, size)) {
        return nullptr;
    }
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (!moved) {
        // The old block is still there and still counted.
        ceiling.m_reached = true;
        ceiling.m_inUse = ceiling.m_inUse - size + oldSize;
        return nullptr;
    }
    moved->size = size;
    return moved + 1;
}

void MemoryCeiling::Free(void* self, void* block)
{
    if (!block) {
        return;
    }
    MemoryCeiling& ceiling = *static_cast<MemoryCeiling*>(self);
    BlockHeader* header = HeaderOf(block);
    ceiling.m_inUse -= header->size;
    std::free(header);
}
