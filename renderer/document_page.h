// A page of a document, drawn by the engine into RGB pixels on white paper, within the memory
// ceiling: the first page for a thumbnail, or any listed page for the preview. Portable: the Windows
// renderer and the native fuzz target share it.
#pragma once

#include "renderer/engine_limits.h"
#include "renderer/exit_code.h"
#include "renderer/page_list.h"
#include "renderer/rgb_pixels.h"
#include "renderer/system_fonts.h"

#include <mupdf/fitz.h>

#include <vector>

// Owns one engine object of type T, dropped with Drop in the context it came from.
template <typename T, void (*Drop)(fz_context*, T*)>
class EngineObject {
public:
    explicit EngineObject(fz_context* ctx) noexcept : m_ctx(ctx) {}
    ~EngineObject() { Drop(m_ctx, m_object); }
    EngineObject(const EngineObject&) = delete;
    EngineObject& operator=(const EngineObject&) = delete;

    T* get() const noexcept { return m_object; }
    T** put() noexcept { return &m_object; }

private:
    fz_context* m_ctx;
    T* m_object = nullptr;
};

using EnginePixmap = EngineObject<fz_pixmap, fz_drop_pixmap>;

// Where the document's bytes come from: a function that opens them as an engine stream (it may
// throw the engine's errors, as every engine call may) and what it opens.
struct DocumentSource {
    fz_stream* (*open)(fz_context* ctx, const void* what);
    const void* what;
};

// One rendering of a page of a document, in an engine context of its own whose allocations count
// against the memory ceiling. Given systemFonts (which must outlive it), fonts that the document names
// without embedding them are looked for there before the engine's own. Each Render call opens the
// document anew; call one of them once per object.
class DocumentPage {
public:
    explicit DocumentPage(size_t memoryCeilingBytes = kMemoryCeilingBytes,
                          SystemFontLookup* systemFonts = nullptr) noexcept;
    ~DocumentPage();
    DocumentPage(const DocumentPage&) = delete;
    DocumentPage& operator=(const DocumentPage&) = delete;

    // Opens the PDF, draws its first page (crop box, /Rotate) with its longer edge longerEdge
    // pixels long, and keeps the pixels. kExitOk, or the code that says why not. The cookie is the
    // engine's stop request, which also reaches the decoding of streams and the tiling of
    // patterns; a render that was asked to stop, or that reached the memory ceiling, reports the
    // resource limit even where the engine went on without what it could not have.
    ExitCode RenderFirstPage(DocumentSource source, int longerEdge, fz_cookie& cookie) noexcept;

    // Opens the PDF, lists its pages (page_tree.h) and draws page pageNumber (1-based) at the size
    // FitToWidth gives its listed size for width, within the same bounds as RenderFirstPage. A page
    // past the list is kExitEngineFailed.
    ExitCode RenderListedPage(DocumentSource source, long long pageNumber, int width, fz_cookie& cookie) noexcept;

    // The drawn page, valid after a Render call returned kExitOk and for as long as this object lives.
    RgbPixels Pixels() const noexcept;
    // The page's visible area in points, as the engine bounds it, that the pixels were fitted to;
    // valid after a Render call returned kExitOk.
    fz_rect PageBounds() const noexcept { return m_pageBounds; }
    // Every listed page's size, valid after RenderListedPage returned kExitOk.
    const std::vector<PageSizePt>& Pages() const noexcept { return m_pages; }
    size_t PeakBytes() const noexcept { return m_ceiling.PeakBytes(); }

private:
    template <typename Render>
    ExitCode WithinBounds(fz_cookie& cookie, Render render) noexcept;

    MemoryCeiling m_ceiling;
    fz_context* m_ctx;
    fz_pixmap* m_page = nullptr;
    fz_rect m_pageBounds = fz_empty_rect;
    std::vector<PageSizePt> m_pages;
};
