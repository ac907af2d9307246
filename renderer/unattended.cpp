// Turning off every dialog that the system or the C runtime would show on the renderer's behalf.
#include "renderer/unattended.h"

#include "renderer/exit_code.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace {

// A stack overflow is the engine's recursion past the renderer's stack, one of its bounds.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault)
{
    const DWORD code = fault->ExceptionRecord->ExceptionCode;
    TerminateProcess(GetCurrentProcess(), code == EXCEPTION_STACK_OVERFLOW ? static_cast<DWORD>(kExitResourceLimit) : code);
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
