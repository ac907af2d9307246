// The thumbnail mode, one function per step: check the document, open the result file, confine the
// process, render the first page within the bounds, write the result.
#include "renderer/thumb_mode.h"

#include "module/unique_resource.h"
#include "renderer/confinement.h"
#include "renderer/document_check.h"
#include "renderer/engine_limits.h"
#include "renderer/first_page.h"
#include "renderer/result_writer.h"

namespace {

struct EngineContextTraits {
    using Handle = fz_context*;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle ctx) noexcept { fz_drop_context(ctx); }
};
using UniqueEngineContext = UniqueResource<EngineContextTraits>;

// The engine's messages would go to a console the renderer does not have.
void IgnoreMessage(void*, const char*) {}

UniqueEngineContext NewEngineContext(const MemoryCeiling& ceiling) noexcept
{
    UniqueEngineContext ctx(fz_new_context(ceiling.Allocator(), nullptr, kEngineStoreBytes));
    if (ctx) {
        fz_set_warning_callback(ctx.get(), IgnoreMessage, nullptr);
        fz_set_error_callback(ctx.get(), IgnoreMessage, nullptr);
        fz_set_aa_level(ctx.get(), 8);
    }
    return ctx;
}

// The DLL made the file; opening it only as an existing one never leaves a stray file behind.
UniqueFile OpenResultFile(const std::wstring& path) noexcept
{
    return UniqueFile(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

RgbPixels PixelsOf(fz_context* ctx, fz_pixmap* pixmap) noexcept
{
    return RgbPixels{fz_pixmap_width(ctx, pixmap), fz_pixmap_height(ctx, pixmap), fz_pixmap_stride(ctx, pixmap),
                     fz_pixmap_samples(ctx, pixmap)};
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

    MemoryCeiling ceiling(kMemoryCeilingBytes);
    const UniqueEngineContext ctx = NewEngineContext(ceiling);
    if (!ctx) {
        return kExitResourceLimit;
    }
    EnginePixmap page(ctx.get());
    const ExitCode rendered =
        RenderFirstPage(ctx.get(), arguments.documentPath.c_str(), arguments.size, &cookie, page.put());
    // A refused allocation or a stop request may have left the page incomplete without an error.
    if (ceiling.WasReached() || budget.WasSpent()) {
        return kExitResourceLimit;
    }
    if (rendered != kExitOk) {
        return rendered;
    }
    if (!budget.BeginWriting()) {
        return kExitResourceLimit;
    }
    return WriteResultFile(resultFile.get(), PixelsOf(ctx.get(), page.get())) ? kExitOk : kExitResultNotWritable;
}
