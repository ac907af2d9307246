// Drawing a page with the engine. The engine reports errors by longjmp, so every function
// here that calls it holds only plain locals: the objects that outlive an error belong to the caller.
#include "renderer/document_page.h"

#include "renderer/page_fit.h"
#include "renderer/page_tree.h"

#include <mupdf/pdf.h>

#include <new>

namespace {

using EngineStream = EngineObject<fz_stream, fz_drop_stream>;
using EngineDocument = EngineObject<pdf_document, pdf_drop_document>;
using EnginePage = EngineObject<fz_page, fz_drop_page>;
using EnginePdfObject = EngineObject<pdf_obj, pdf_drop_obj>;

// The engine's messages would go to a console the renderer does not have.
void IgnoreMessage(void*, const char*) {}

fz_context* NewEngineContext(const MemoryCeiling& ceiling, SystemFontLookup* systemFonts) noexcept
{
    fz_context* ctx = fz_new_context(ceiling.Allocator(), nullptr, kEngineStoreBytes);
    if (ctx) {
        fz_set_warning_callback(ctx, IgnoreMessage, nullptr);
        fz_set_error_callback(ctx, IgnoreMessage, nullptr);
        fz_set_aa_level(ctx, 8);
        if (systemFonts) {
            InstallSystemFonts(ctx, *systemFonts);
        }
    }
    return ctx;
}

// Every caught error is reported (to IgnoreMessage) so that the engine does not take it for one
// left unhandled. A stop request is a bound of ours; so is a refused allocation, which the caller
// tells from the memory ceiling's own record.
ExitCode ExitCodeForCaughtError(fz_context* ctx, ExitCode otherwise) noexcept
{
    const int caught = fz_caught(ctx);
    if (caught == FZ_ERROR_ABORT) {
        fz_ignore_error(ctx);
        return kExitResourceLimit;
    }
    fz_report_error(ctx);
    return otherwise;
}

ExitCode OpenStream(fz_context* ctx, DocumentSource source, fz_stream** stream)
{
    fz_try(ctx)
    {
        *stream = source.open(ctx, source.what);
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitDocumentUnreadable);
    }
    return kExitOk;
}

// A document with a broken cross-reference table is repaired here, as the engine does on its own.
ExitCode OpenDocument(fz_context* ctx, fz_stream* stream, pdf_document** document)
{
    fz_try(ctx)
    {
        *document = pdf_open_document_with_stream(ctx, stream);
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    return kExitOk;
}

// Opening already tried the empty user password; a document that still needs one is out of reach.
ExitCode CheckAccess(fz_context* ctx, pdf_document* document)
{
    int needsPassword = 0;
    fz_var(needsPassword);
    fz_try(ctx)
    {
        needsPassword = pdf_needs_password(ctx, document);
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    return needsPassword ? kExitPasswordProtected : kExitOk;
}

// Page 1 is looked up through the page tree's counts, so that the other pages are never loaded for it.
// The page's object is borrowed from the page.
ExitCode LoadPage(fz_context* ctx, pdf_document* document, int index, fz_page** page, pdf_obj** object)
{
    fz_try(ctx)
    {
        pdf_page* loaded = pdf_load_page(ctx, document, index);
        *page = &loaded->super;
        *object = loaded->obj;
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    return kExitOk;
}

// The page's visible area: the crop box within the media box, turned by /Rotate.
ExitCode BoundPage(fz_context* ctx, fz_page* page, fz_rect* pageBounds)
{
    fz_rect bounds = fz_empty_rect;
    fz_var(bounds);
    fz_try(ctx)
    {
        bounds = fz_bound_page(ctx, page);
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    const float width = bounds.x1 - bounds.x0;
    const float height = bounds.y1 - bounds.y0;
    if (fz_is_empty_rect(bounds) || fz_is_infinite_rect(bounds) || !(width > 0.0f) || !(height > 0.0f)) {
        return kExitEngineFailed;
    }
    *pageBounds = bounds;
    return kExitOk;
}

// The page's visible area mapped onto whole pixels, size.width by size.height, each axis scaled on its
// own so that the page fills the bitmap exactly.
void PlacePage(fz_rect bounds, PixelSize size, fz_matrix* ctm, fz_irect* area)
{
    *ctm = fz_scale(size.width / (bounds.x1 - bounds.x0), size.height / (bounds.y1 - bounds.y0));
    // The first whole pixel is where the engine's own rounding puts it, so that the pixel grid is
    // the one the engine would use for this scale; the size is then exactly the one asked for.
    const fz_irect rounded = fz_round_rect(fz_transform_rect(bounds, *ctm));
    *area = fz_make_irect(rounded.x0, rounded.y0, rounded.x0 + size.width, rounded.y0 + size.height);
}

ExitCode NewPaper(fz_context* ctx, fz_irect area, fz_pixmap** pixmap)
{
    fz_try(ctx)
    {
        *pixmap = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), area, nullptr, 0);
        fz_clear_pixmap_with_value(ctx, *pixmap, 255);
    }
    fz_catch(ctx)
    {
        return ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    return kExitOk;
}

ExitCode DrawPage(fz_context* ctx, fz_page* page, fz_matrix ctm, fz_cookie* cookie, fz_pixmap* pixmap)
{
    fz_device* device = nullptr;
    fz_var(device);
    ExitCode result = kExitOk;
    fz_try(ctx)
    {
        device = fz_new_draw_device(ctx, fz_identity, pixmap);
        fz_run_page(ctx, page, device, ctm, cookie);
        fz_close_device(ctx, device);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, device);
    }
    fz_catch(ctx)
    {
        result = ExitCodeForCaughtError(ctx, kExitEngineFailed);
    }
    return result;
}

ExitCode OpenReadableDocument(fz_context* ctx, DocumentSource source, EngineStream& stream, EngineDocument& document)
{
    ExitCode result = OpenStream(ctx, source, stream.put());
    if (result != kExitOk || (result = OpenDocument(ctx, stream.get(), document.put())) != kExitOk) {
        return result;
    }
    return CheckAccess(ctx, document.get());
}

ExitCode DrawOnPaper(fz_context* ctx, fz_page* page, fz_rect bounds, PixelSize size, fz_cookie* cookie,
                     fz_pixmap** pixmap)
{
    fz_matrix ctm = fz_identity;
    fz_irect area = fz_empty_irect;
    PlacePage(bounds, size, &ctm, &area);
    EnginePixmap paper(ctx);
    ExitCode result = NewPaper(ctx, area, paper.put());
    if (result != kExitOk || (result = DrawPage(ctx, page, ctm, cookie, paper.get())) != kExitOk) {
        return result;
    }
    *pixmap = fz_keep_pixmap(ctx, paper.get());
    return kExitOk;
}

// The longer edge gets longerEdge pixels and the shorter one its rounded share.
ExitCode DrawFirstPage(fz_context* ctx, DocumentSource source, int longerEdge, fz_cookie* cookie,
                       fz_rect* pageBounds, fz_pixmap** pixmap)
{
    EngineStream stream(ctx);
    EngineDocument document(ctx);
    ExitCode result = OpenReadableDocument(ctx, source, stream, document);
    if (result != kExitOk) {
        return result;
    }
    EnginePage page(ctx);
    pdf_obj* object = nullptr;
    if ((result = LoadPage(ctx, document.get(), 0, page.put(), &object)) != kExitOk
        || (result = BoundPage(ctx, page.get(), pageBounds)) != kExitOk) {
        return result;
    }
    const PixelSize size =
        FitToLongerEdge(pageBounds->x1 - pageBounds->x0, pageBounds->y1 - pageBounds->y0, longerEdge);
    return DrawOnPaper(ctx, page.get(), *pageBounds, size, cookie, pixmap);
}

// The page the engine loads for the number must be the one listed under it: a page tree whose counts
// disagree with its kids could otherwise put another page's pixels in this page's place.
ExitCode DrawListedPage(fz_context* ctx, DocumentSource source, long long pageNumber, int width, fz_cookie* cookie,
                        std::vector<PageSizePt>& pages, fz_rect* pageBounds, fz_pixmap** pixmap)
{
    EngineStream stream(ctx);
    EngineDocument document(ctx);
    ExitCode result = OpenReadableDocument(ctx, source, stream, document);
    if (result != kExitOk) {
        return result;
    }
    EnginePdfObject listed(ctx);
    if ((result = ListPages(ctx, document.get(), *cookie, pageNumber - 1, pages, listed.put())) != kExitOk) {
        return result;
    }
    if (pageNumber < 1 || pageNumber > static_cast<long long>(pages.size())) {
        return kExitEngineFailed;
    }
    EnginePage page(ctx);
    pdf_obj* object = nullptr;
    if ((result = LoadPage(ctx, document.get(), static_cast<int>(pageNumber - 1), page.put(), &object)) != kExitOk
        || (result = BoundPage(ctx, page.get(), pageBounds)) != kExitOk) {
        return result;
    }
    if (!IsSamePageObject(ctx, object, listed.get())) {
        return kExitEngineFailed;
    }
    const PageSizePt listedSize = pages[static_cast<size_t>(pageNumber - 1)];
    return DrawOnPaper(ctx, page.get(), *pageBounds, FitToWidth(listedSize.width, listedSize.height, width), cookie,
                       pixmap);
}

}  // namespace

DocumentPage::DocumentPage(size_t memoryCeilingBytes, SystemFontLookup* systemFonts) noexcept
    : m_ceiling(memoryCeilingBytes), m_ctx(NewEngineContext(m_ceiling, systemFonts))
{
}

DocumentPage::~DocumentPage()
{
    if (m_ctx) {
        fz_drop_pixmap(m_ctx, m_page);
        fz_drop_context(m_ctx);
    }
}

template <typename Render>
ExitCode DocumentPage::WithinBounds(fz_cookie& cookie, Render render) noexcept
{
    if (!m_ctx) {
        return kExitResourceLimit;
    }
    fz_set_stop_flag(m_ctx, &cookie.abort);
    ExitCode rendered = kExitOk;
    try {
        rendered = render();
    } catch (const std::bad_alloc&) {
        rendered = kExitResourceLimit;
    }
    fz_set_stop_flag(m_ctx, nullptr);
    // A refused allocation or a stop request may have left the page incomplete without an error.
    if (m_ceiling.WasReached() || cookie.abort) {
        return kExitResourceLimit;
    }
    return rendered;
}

ExitCode DocumentPage::RenderFirstPage(DocumentSource source, int longerEdge, fz_cookie& cookie) noexcept
{
    return WithinBounds(cookie, [&] { return DrawFirstPage(m_ctx, source, longerEdge, &cookie, &m_pageBounds, &m_page); });
}

ExitCode DocumentPage::RenderListedPage(DocumentSource source, long long pageNumber, int width,
                                        fz_cookie& cookie) noexcept
{
    return WithinBounds(cookie, [&] {
        return DrawListedPage(m_ctx, source, pageNumber, width, &cookie, m_pages, &m_pageBounds, &m_page);
    });
}

RgbPixels DocumentPage::Pixels() const noexcept
{
    if (!m_page) {
        return RgbPixels{0, 0, 0, nullptr};
    }
    return RgbPixels{fz_pixmap_width(m_ctx, m_page), fz_pixmap_height(m_ctx, m_page),
                     fz_pixmap_stride(m_ctx, m_page), fz_pixmap_samples(m_ctx, m_page)};
}
