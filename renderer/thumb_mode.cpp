// The thumbnail mode: the first page fitted to the size asked for, into the result file.
#include "renderer/thumb_mode.h"

#include "renderer/mode_steps.h"
#include "renderer/result_writer.h"

ExitCode RunThumbMode(const ThumbArguments& arguments)
{
    const std::wstring* const outputs[] = {&arguments.resultPath};
    return RunConfinedRender(
        arguments.documentPath, outputs,
        [&](DocumentPage& page, fz_cookie& cookie) {
            return page.RenderFirstPage(DocumentFile(arguments.documentPath), arguments.size, cookie);
        },
        [](const DocumentPage& page, const UniqueFile (&files)[1]) {
            return WriteResultFile(files[0].get(), page.Pixels()) ? kExitOk : kExitResultNotWritable;
        });
}
