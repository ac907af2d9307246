// TorvView.exe: renders the first page of a PDF document for the Shell's thumbnails.
//
//   TorvView.exe --thumb <document> <size> <result file>
//   TorvView.exe --confinement <report file>      what the confinement applies on this Windows
//
// The exit codes are in exit_code.h; the result file's format in result_writer.h. Nothing is
// written to the result file unless the whole page was rendered.
#include "renderer/confinement_report.h"
#include "renderer/exit_code.h"
#include "renderer/page_mode.h"
#include "renderer/arguments.h"
#include "renderer/thumb_mode.h"
#include "renderer/unattended.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <new>

namespace {

// The C runtime's arguments rather than CommandLineToArgvW's: shell32 would load user32 and gdi32,
// and a thread that called into those is beyond the reach of the win32k lockdown.
int Run()
{
    wchar_t** const argv = __wargv;
    if (!argv) {
        return kExitUsage;
    }
    if (__argc == 3 && std::wcscmp(argv[1], L"--confinement") == 0) {
        return RunConfinementMode(argv[2]);
    }
    if (__argc >= 2 && std::wcscmp(argv[1], L"--page") == 0) {
        PageArguments arguments;
        return ParsePageArguments(__argc, argv, arguments) ? RunPageMode(arguments) : kExitUsage;
    }
    ThumbArguments arguments;
    if (!ParseThumbArguments(__argc, argv, arguments)) {
        return kExitUsage;
    }
    return RunThumbMode(arguments);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    StayUnattended();
    try {
        return Run();
    } catch (const std::bad_alloc&) {
        return kExitResourceLimit;
    } catch (...) {
        return kExitEngineFailed;
    }
}
