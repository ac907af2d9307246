// Runs the renderer hidden, within its time limit, terminating it when it overruns or is cancelled.
#include "shared/renderer_process.h"

#include "shared/unique_resource.h"

namespace {

// Long enough for a terminated process to let go of its files, short enough for an Unload.
constexpr DWORD kTerminationWaitMs = 5000;

bool StartHidden(const std::wstring& command, UniqueProcessInformation& process)
{
    // CreateProcessW may write into the command line it is given.
    std::wstring commandLine = command;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    process.adopt(info);
    return true;
}

}  // namespace

RendererRun RunRenderer(const std::wstring& command, HANDLE cancel)
{
    RendererRun run;
    UniqueProcessInformation process;
    if (!StartHidden(command, process)) {
        return run;
    }
    const HANDLE waitFor[] = {process.process.get(), cancel};
    const DWORD count = cancel ? 2 : 1;
    const DWORD wait = WaitForMultipleObjects(count, waitFor, FALSE, kRenderTimeoutMs);
    if (wait == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.process.get(), &run.exitCode);
        run.outcome = RendererOutcome::Ended;
        return run;
    }
    TerminateProcess(process.process.get(), 1);
    // A caller that can cancel runs on a thread of its own and deletes the renderer's files next.
    if (cancel) {
        WaitForSingleObject(process.process.get(), kTerminationWaitMs);
    }
    // WAIT_TIMEOUT and WAIT_FAILED both mean the renderer may still be running.
    run.outcome = wait == WAIT_OBJECT_0 + 1 ? RendererOutcome::Cancelled : RendererOutcome::TimedOut;
    return run;
}
