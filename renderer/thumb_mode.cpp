// The thumbnail mode, one function per step: check the document, open the result file, confine the
// process, render the first page within the bounds (with the installed fonts for those the
// document does not embed), write the result.
#include "renderer/thumb_mode.h"

#include "module/unique_resource.h"
#include "renderer/confinement.h"
#include "renderer/document_check.h"
#include "renderer/first_page.h"
#include "renderer/registry_fonts.h"
#include "renderer/result_writer.h"
#include "renderer/time_budget.h"

namespace {

// The DLL made the file; opening it only as an existing one never leaves a stray file behind.
UniqueFile OpenResultFile(const std::wstring& path) noexcept
{
    return UniqueFile(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

fz_stream* OpenDocumentFile(fz_context* ctx, const void* path)
{
    return fz_open_file_w(ctx, static_cast<const wchar_t*>(path));
}

}  // namespace

ExitCode RunThumbMode(const ThumbArguments& arguments)
{
    fz_cookie cookie{};
    TimeBudget budget(cookie, kTimeBudgetMs, kHardStopMs);

    const ExitCode documentCheck = CheckDocument(arguments.documentPath.c_str());
    if (documentCheck != kExitOk) {
        return documentCheck;
    }
    const UniqueFile resultFile = OpenResultFile(arguments.resultPath);
    if (!resultFile) {
        return kExitResultNotWritable;
    }
    // Before the engine reads a byte. From here on the process writes only through the result
    // file's handle, opened above.
    if (!ConfineProcess().AllowsParsing()) {
        return kExitNotConfined;
    }

    // Read only if the document names a font it does not embed (other than the standard 14),
    // during the render; declared first, so that the engine's fonts go before the files they map.
    RegistryFonts installedFonts;
    SystemFontLookup systemFonts(installedFonts);
    FirstPage page(kMemoryCeilingBytes, &systemFonts);
    const ExitCode rendered =
        page.Render(DocumentSource{OpenDocumentFile, arguments.documentPath.c_str()}, arguments.size, cookie);
    if (rendered != kExitOk) {
        return rendered;
    }
    if (!budget.BeginWriting()) {
        return kExitResourceLimit;
    }
    return WriteResultFile(resultFile.get(), page.Pixels()) ? kExitOk : kExitResultNotWritable;
}
