// The renderer's time bound as a watchdog over the whole render.
#pragma once

#include "module/unique_resource.h"
#include "renderer/limits.h"

#include <mupdf/fitz.h>

#include <atomic>

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
