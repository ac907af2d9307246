// The renderer's own bounds, so that it ends cleanly well before the DLL's 30-second limit: a
// ceiling on the engine's memory and a time budget for the whole render.
#pragma once

#include "module/unique_resource.h"

#include <mupdf/fitz.h>

#include <atomic>
#include <cstddef>

// Engine allocations beyond this many bytes in use at once are refused.
constexpr size_t kMemoryCeilingBytes = size_t(512) << 20;
// What the engine may keep of decoded fonts and images for reuse; well under the ceiling, so that a
// refusal always means the page itself needs too much.
constexpr size_t kEngineStoreBytes = size_t(64) << 20;
// From the start of the render: the engine is asked to stop at the first, and the process ends at
// the second if the engine has not come back (it looks at the request only between operators).
constexpr DWORD kTimeBudgetMs = 20000;
constexpr DWORD kHardStopMs = 25000;

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

// A watchdog thread: sets the cookie's abort flag once the budget is spent, and ends the process
// with the resource-limit code at the hard stop unless the result is being written by then. It also
// ends the process with that code at once if the thread that made it is gone before the render ends:
// Wine ends a thread whose stack overflowed with too little stack left to hand the fault to the
// unhandled-exception filter, and the process would otherwise wait for the hard stop.
class TimeBudget {
public:
    TimeBudget(fz_cookie& cookie, DWORD budgetMs, DWORD hardStopMs) noexcept;
    ~TimeBudget();
    TimeBudget(const TimeBudget&) = delete;
    TimeBudget& operator=(const TimeBudget&) = delete;

    bool WasSpent() const noexcept { return m_spent.load(); }
    // From here on the time budget never ends the process, so that a result file is either complete
    // or untouched. False if the budget was already spent.
    bool BeginWriting() noexcept;

private:
    enum State : int { kRendering, kWriting, kStopped };
    static DWORD WINAPI Watch(void* self);
    void WatchUntilStopped() noexcept;
    DWORD WaitForRender(DWORD timeoutMs) noexcept;

    fz_cookie& m_cookie;
    DWORD m_budgetMs;
    DWORD m_hardStopMs;
    std::atomic<bool> m_spent{false};
    std::atomic<int> m_state{kRendering};
    UniqueHandle m_finished;
    UniqueHandle m_renderer;
    UniqueHandle m_thread;
};
