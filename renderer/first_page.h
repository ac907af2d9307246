// The document's first page, drawn by the engine into RGB pixels on white paper.
#pragma once

#include "renderer/exit_code.h"

#include <mupdf/fitz.h>

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

// Opens the PDF at path, draws its first page (crop box, /Rotate) with its longer edge longerEdge
// pixels long, and stores the RGB pixmap in *pixmap. kExitOk, or the code that says why not.
// The cookie is the engine's stop request: a render that was asked to stop reports the limit.
ExitCode RenderFirstPage(fz_context* ctx, const wchar_t* path, int longerEdge, fz_cookie* cookie, fz_pixmap** pixmap);
