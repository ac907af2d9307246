// TorvView.exe: renders the first page of a PDF document for the Shell's thumbnails.
//
//   TorvView.exe --thumb <document> <size> <result file>
//
// The exit codes are in exit_code.h; the result file's format in result_writer.h. Nothing is
// written to the result file unless the whole page was rendered.
#include "module/unique_resource.h"
#include "renderer/exit_code.h"
#include "renderer/thumb_arguments.h"
#include "renderer/thumb_mode.h"
#include "renderer/unattended.h"

#include <shellapi.h>

#include <new>

namespace {

struct LocalMemoryTraits {
    using Handle = wchar_t**;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle memory) noexcept { LocalFree(memory); }
};
using UniqueArgv = UniqueResource<LocalMemoryTraits>;

int Run()
{
    int argc = 0;
    const UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    ThumbArguments arguments;
    if (!argv || !ParseThumbArguments(argc, argv.get(), arguments)) {
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
