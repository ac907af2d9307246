// The memory ceiling as the engine's allocator, and the time budget as a watchdog thread.
#include "renderer/engine_limits.h"

#include "renderer/exit_code.h"

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

TimeBudget::TimeBudget(fz_cookie& cookie, DWORD budgetMs, DWORD hardStopMs) noexcept
    : m_cookie(cookie), m_budgetMs(budgetMs), m_hardStopMs(hardStopMs),
      m_finished(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_renderer(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()))
{
    if (m_finished) {
        m_thread.reset(CreateThread(nullptr, 64 * 1024, &TimeBudget::Watch, this, 0, nullptr));
    }
}

TimeBudget::~TimeBudget()
{
    if (m_thread) {
        SetEvent(m_finished.get());
        WaitForSingleObject(m_thread.get(), INFINITE);
    }
}

bool TimeBudget::BeginWriting() noexcept
{
    int expected = kRendering;
    return m_state.compare_exchange_strong(expected, kWriting) && !m_spent.load();
}

DWORD WINAPI TimeBudget::Watch(void* self)
{
    static_cast<TimeBudget*>(self)->WatchUntilStopped();
    return 0;
}

// WAIT_TIMEOUT while the render goes on; the process ends here if the rendering thread is gone.
DWORD TimeBudget::WaitForRender(DWORD timeoutMs) noexcept
{
    const HANDLE ends[] = {m_finished.get(), m_renderer.get()};
    const DWORD woke = WaitForMultipleObjects(m_renderer ? 2 : 1, ends, FALSE, timeoutMs);
    if (woke == WAIT_OBJECT_0 + 1) {
        // Only a fault that never reached the filter ends the thread early: the engine's recursion
        // past the stack, a bound like the others.
        TerminateProcess(GetCurrentProcess(), kExitResourceLimit);
    }
    return woke;
}

void TimeBudget::WatchUntilStopped() noexcept
{
    if (WaitForRender(m_budgetMs) != WAIT_TIMEOUT) {
        return;
    }
    m_spent.store(true);
    m_cookie.abort = 1;
    if (WaitForRender(m_hardStopMs - m_budgetMs) != WAIT_TIMEOUT) {
        return;
    }
    int expected = kRendering;
    if (m_state.compare_exchange_strong(expected, kStopped)) {
        // Opening a huge damaged file, or a pattern the engine draws without looking at the
        // request, can outlast the budget; the DLL would otherwise have to kill the process.
        TerminateProcess(GetCurrentProcess(), kExitResourceLimit);
    }
}
