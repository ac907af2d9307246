// The renderer's memory bound as the engine's allocator. Portable, like the document path that it
// serves (the time budget is in time_budget.h).
#pragma once

#include "renderer/limits.h"

#include <mupdf/fitz.h>

#include <cstddef>

// The engine's allocator: counts the bytes in use and refuses what would pass the ceiling.
// Single-threaded, like the engine context it serves.
class MemoryCeiling {
public:
    explicit MemoryCeiling(size_t ceilingBytes) noexcept;
    MemoryCeiling(const MemoryCeiling&) = delete;
    MemoryCeiling& operator=(const MemoryCeiling&) = delete;

    const fz_alloc_context* Allocator() const noexcept { return &m_allocator; }
    // True once any request was refused, by the ceiling or by the system: the page may be incomplete
    // even if the engine went on.
    bool WasReached() const noexcept { return m_reached; }
    size_t PeakBytes() const noexcept { return m_peak; }

private:
    static void* Allocate(void* self, size_t size);
    static void* Reallocate(void* self, void* block, size_t size);
    static void Free(void* self, void* block);
    bool Admit(size_t oldSize, size_t newSize) noexcept;

    fz_alloc_context m_allocator;
    size_t m_ceiling;
    size_t m_inUse = 0;
    size_t m_peak = 0;
    bool m_reached = false;
};
