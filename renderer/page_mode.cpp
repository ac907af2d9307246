// The page mode: the document's page list and the page asked for fitted to the width, into the
// result and page list files, both or neither.
#include "renderer/page_mode.h"

#include "renderer/mode_steps.h"
#include "renderer/result_writer.h"

namespace {

ExitCode WriteBothFiles(HANDLE resultFile, HANDLE pageListFile, const DocumentPage& page) noexcept
{
    if (!WritePageListFile(pageListFile, page.Pages())) {
        return kExitResultNotWritable;
    }
    if (!WriteResultFile(resultFile, page.Pixels())) {
        EmptyOutputFile(pageListFile);
        return kExitResultNotWritable;
    }
    return kExitOk;
}

}  // namespace

ExitCode RunPageMode(const PageArguments& arguments)
{
    const std::wstring* const outputs[] = {&arguments.resultPath, &arguments.pageListPath};
    return RunConfinedRender(
        arguments.documentPath, outputs,
        [&](DocumentPage& page, fz_cookie& cookie) {
            return page.RenderListedPage(DocumentFile(arguments.documentPath), arguments.pageNumber, arguments.width,
                                         cookie);
        },
        [](const DocumentPage& page, const UniqueFile (&files)[2]) {
            return WriteBothFiles(files[0].get(), files[1].get(), page);
        });
}
