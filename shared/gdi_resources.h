// Owners for the GDI objects the pane and the host draw with, in the style of shared/unique_resource.h.
#pragma once

#include "shared/unique_resource.h"

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle dc) noexcept { DeleteDC(dc); }
};

using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniquePen = UniqueResource<GdiObjectTraits<HPEN>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;

// Selects an object into a DC for one scope; an object still selected cannot be deleted.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~ScopedSelection()
    {
        if (m_previous && m_previous != HGDI_ERROR) {
            SelectObject(m_dc, m_previous);
        }
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
