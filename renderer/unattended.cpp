// Turning off every dialog that the system or the C runtime would show on the renderer's behalf.
#include "renderer/unattended.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace {

LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault)
{
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// abort() of a GUI program shows a message box before it ends the process. The code is the one
// the system reports for an abort.
void EndOnAbort(int)
{
    TerminateProcess(GetCurrentProcess(), STATUS_FATAL_APP_EXIT);
}

}  // namespace

void StayUnattended() noexcept
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    _set_error_mode(_OUT_TO_STDERR);
    std::signal(SIGABRT, EndOnAbort);
}
