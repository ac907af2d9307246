// The steps that the thumbnail and page modes share: check the document, open the caller's output
// files, confine the process, render within the bounds (with the installed fonts for those the
// document does not embed), and write the outputs only if the render is complete and in time.
#pragma once

#include "module/unique_resource.h"
#include "renderer/confinement.h"
#include "renderer/document_check.h"
#include "renderer/document_page.h"
#include "renderer/registry_fonts.h"
#include "renderer/time_budget.h"

#include <cstddef>
#include <string>

// The caller made the file; opening it only as an existing one never leaves a stray file behind.
// Invalid if it does not exist or cannot be opened for writing.
UniqueFile OpenOutputFile(const std::wstring& path) noexcept;

// The document at path as the engine's source; path must outlive the render.
DocumentSource DocumentFile(const std::wstring& path) noexcept;

// One mode's run: render(DocumentPage&, fz_cookie&) draws the page and returns its code; then
// write(const DocumentPage&, const UniqueFile (&outputs)[N]) writes the output files, in the order of
// outputPaths, and returns the exit code.
template <size_t N, typename Render, typename Write>
ExitCode RunConfinedRender(const std::wstring& documentPath, const std::wstring* const (&outputPaths)[N],
                           Render render, Write write)
{
    fz_cookie cookie{};
    TimeBudget budget(cookie, kTimeBudgetMs, kHardStopMs);

    const ExitCode documentCheck = CheckDocument(documentPath.c_str());
    if (documentCheck != kExitOk) {
        return documentCheck;
    }
    UniqueFile outputs[N];
    for (size_t i = 0; i < N; ++i) {
        outputs[i] = OpenOutputFile(*outputPaths[i]);
        if (!outputs[i]) {
            return kExitResultNotWritable;
        }
    }
    // Before the engine reads a byte. From here on the process writes only through the output
    // files' handles, opened above.
    if (!ConfineProcess().AllowsParsing()) {
        return kExitNotConfined;
    }

    // Read only if the document names a font it does not embed (other than the standard 14),
    // during the render; declared first, so that the engine's fonts go before the files they map.
    RegistryFonts installedFonts;
    SystemFontLookup systemFonts(installedFonts);
    DocumentPage page(kMemoryCeilingBytes, &systemFonts);
    const ExitCode rendered = render(page, cookie);
    if (rendered != kExitOk) {
        return rendered;
    }
    if (!budget.BeginWriting()) {
        return kExitResourceLimit;
    }
    return write(page, outputs);
}
