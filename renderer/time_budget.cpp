// The time budget as a watchdog thread.
#include "renderer/time_budget.h"

#include "renderer/exit_code.h"

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
        // Work that never looks at the request (repairing a huge damaged file, say) can outlast
        // the budget; the DLL would otherwise have to kill the process.
        TerminateProcess(GetCurrentProcess(), kExitResourceLimit);
    }
}
