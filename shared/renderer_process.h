// Starting the renderer, TorvView.exe, for one request and waiting for it within its limit.
#pragma once

#include <windows.h>

#include <string>

// How long the renderer may run before it is terminated.
constexpr DWORD kRenderTimeoutMs = 30000;

enum class RendererOutcome {
    Ended,       // the process ended by itself within the limit; exitCode holds its code
    NotStarted,  // the command could not be started (a missing program, say)
    TimedOut,    // still running at the limit, or the wait failed: terminated
    Cancelled,   // the cancel event was set first: terminated
};

struct RendererRun {
    RendererOutcome outcome = RendererOutcome::NotStarted;
    DWORD exitCode = 1;

    bool Succeeded() const noexcept { return outcome == RendererOutcome::Ended && exitCode == 0; }
};

// Starts the command hidden and without a console, and waits for it at most kRenderTimeoutMs, or
// until cancel (an event) is set. A renderer that overruns or is cancelled is terminated; without a
// cancel event it is not awaited, so that one which ignores termination cannot hang the caller
// (the Shell's thread), with one it is awaited a few seconds, so that its files can be deleted.
// Throws std::bad_alloc.
RendererRun RunRenderer(const std::wstring& command, HANDLE cancel = nullptr);
