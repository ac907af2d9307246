// Contact sheet drawing: GDI on a memory DC over a DIB section, which works without a display.
#include "tools/host/contact_sheet.h"

#include "shared/gdi_resources.h"
#include "tools/host/png_file.h"

#include <algorithm>

namespace {

constexpr UINT kMaxColumns = 4;
constexpr UINT kMinBox = 96;
constexpr UINT kPadding = 16;
constexpr COLORREF kBackground = RGB(236, 236, 236);
constexpr COLORREF kLabelColour = RGB(32, 32, 32);
constexpr COLORREF kFailureColour = RGB(170, 20, 20);
constexpr COLORREF kFrameColour = RGB(150, 150, 150);

struct SheetLayout {
    UINT columns;
    UINT rows;
    UINT box;          // edge of the square a thumbnail fits in
    UINT fontHeight;   // pixels
    UINT labelHeight;  // below the box
    UINT cellWidth;
    UINT cellHeight;

    UINT Width() const noexcept { return columns * cellWidth; }
    UINT Height() const noexcept { return rows * cellHeight; }
    RECT Box(size_t index) const noexcept
    {
        const LONG left = static_cast<LONG>((index % columns) * cellWidth + kPadding);
        const LONG top = static_cast<LONG>((index / columns) * cellHeight + kPadding);
        return RECT{left, top, left + static_cast<LONG>(box), top + static_cast<LONG>(box)};
    }
    RECT Label(size_t index) const noexcept
    {
        const RECT b = Box(index);
        return RECT{b.left - static_cast<LONG>(kPadding / 2), b.bottom + 4, b.right + static_cast<LONG>(kPadding / 2),
                    b.bottom + 4 + static_cast<LONG>(labelHeight)};
    }
};

SheetLayout LayOut(size_t count, UINT thumbnailSize)
{
    SheetLayout layout{};
    layout.columns = static_cast<UINT>(std::min<size_t>(count, kMaxColumns));
    layout.rows = static_cast<UINT>((count + layout.columns - 1) / layout.columns);
    layout.box = std::max(thumbnailSize, kMinBox);
    layout.fontHeight = std::max(12u, layout.box / 16);
    layout.labelHeight = layout.fontHeight + 8;
    layout.cellWidth = layout.box + 2 * kPadding;
    layout.cellHeight = layout.box + layout.labelHeight + 2 * kPadding;
    return layout;
}

// A 32-bit top-down DIB section selected into its own memory DC.
class Canvas {
public:
    HRESULT Create(UINT width, UINT height)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc.reset(CreateCompatibleDC(nullptr));
        m_bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0));
        if (!m_dc || !m_bitmap || !m_bits) {
            return E_OUTOFMEMORY;
        }
        m_width = width;
        m_height = height;
        m_previous = SelectObject(m_dc.get(), m_bitmap.get());
        return S_OK;
    }
    ~Canvas()
    {
        // The bitmap cannot be deleted while it is selected.
        if (m_previous) {
            SelectObject(m_dc.get(), m_previous);
        }
    }

    HDC Dc() const noexcept { return m_dc.get(); }
    BYTE* Bits() const noexcept { return static_cast<BYTE*>(m_bits); }
    UINT Width() const noexcept { return m_width; }
    UINT Height() const noexcept { return m_height; }

private:
    // Declared before the DC so that it is destroyed after the DC has let go of it.
    UniqueBitmap m_bitmap;
    UniqueMemoryDc m_dc;
    void* m_bits = nullptr;
    HGDIOBJ m_previous = nullptr;
    UINT m_width = 0;
    UINT m_height = 0;
};

BYTE Blend(BYTE colour, BYTE alpha, BYTE background) noexcept
{
    return static_cast<BYTE>((colour * alpha + background * (255 - alpha) + 127) / 255);
}

// The thumbnail as the sheet shows it: straight alpha composed over the background.
void CopyFlattened(const SheetEntry& entry, BYTE* target)
{
    const BYTE background[3] = {GetBValue(kBackground), GetGValue(kBackground), GetRValue(kBackground)};
    const std::vector<BYTE>& source = entry.pixels.bgra;
    for (size_t i = 0; i < source.size(); i += 4) {
        const BYTE alpha = entry.usesAlpha ? source[i + 3] : 255;
        for (size_t c = 0; c < 3; ++c) {
            target[i + c] = Blend(source[i + c], alpha, background[c]);
        }
        target[i + 3] = 255;
    }
}

// Fits the box, keeping proportions, never enlarged; centred.
RECT FitInBox(const RECT& box, UINT width, UINT height)
{
    const double boxEdge = static_cast<double>(box.right - box.left);
    const double scale = std::min(1.0, std::min(boxEdge / width, boxEdge / height));
    const LONG w = std::max(1L, static_cast<LONG>(width * scale + 0.5));
    const LONG h = std::max(1L, static_cast<LONG>(height * scale + 0.5));
    const LONG left = box.left + (box.right - box.left - w) / 2;
    const LONG top = box.top + (box.bottom - box.top - h) / 2;
    return RECT{left, top, left + w, top + h};
}

HRESULT DrawThumbnail(const Canvas& sheet, const RECT& box, const SheetEntry& entry)
{
    Canvas thumbnail;
    const HRESULT hr = thumbnail.Create(entry.pixels.width, entry.pixels.height);
    if (FAILED(hr)) {
        return hr;
    }
    CopyFlattened(entry, thumbnail.Bits());
    const RECT target = FitInBox(box, entry.pixels.width, entry.pixels.height);
    SetStretchBltMode(sheet.Dc(), HALFTONE);
    SetBrushOrgEx(sheet.Dc(), 0, 0, nullptr);
    StretchBlt(sheet.Dc(), target.left, target.top, target.right - target.left, target.bottom - target.top,
               thumbnail.Dc(), 0, 0, static_cast<int>(thumbnail.Width()), static_cast<int>(thumbnail.Height()),
               SRCCOPY);
    return S_OK;
}

// One line, centred, cut with an ellipsis when it is wider than the box.
void DrawLine(HDC dc, const RECT& box, LONG top, LONG height, const std::wstring& text)
{
    RECT line{box.left, top, box.right, top + height};
    DrawTextW(dc, text.c_str(), -1, &line, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
}

void DrawFailure(HDC dc, const RECT& box, const SheetEntry& entry, UINT lineHeight)
{
    const UniquePen pen(CreatePen(PS_DOT, 1, kFrameColour));
    {
        const ScopedSelection penSelection(dc, pen.get());
        const ScopedSelection brushSelection(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, box.left, box.top, box.right, box.bottom);
    }
    RECT inner = box;
    InflateRect(&inner, -4, -4);
    const LONG height = static_cast<LONG>(lineHeight);
    const LONG top = box.top + (box.bottom - box.top - 3 * height) / 2;
    SetTextColor(dc, kFailureColour);
    DrawLine(dc, inner, top, height, L"no thumbnail");
    DrawLine(dc, inner, top + height, height, entry.failure);
    DrawLine(dc, inner, top + 2 * height, height, entry.failureCode);
}

void DrawLabel(HDC dc, const RECT& label, const std::wstring& name)
{
    RECT box = label;
    SetTextColor(dc, kLabelColour);
    DrawTextW(dc, name.c_str(), -1, &box, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
}

UniqueFont CreateLabelFont(UINT height)
{
    return UniqueFont(CreateFontW(-static_cast<int>(height), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

void FillBackground(const Canvas& sheet)
{
    const RECT all{0, 0, static_cast<LONG>(sheet.Width()), static_cast<LONG>(sheet.Height())};
    const UniqueBrush brush(CreateSolidBrush(kBackground));
    FillRect(sheet.Dc(), &all, brush.get());
}

HRESULT DrawEntries(const Canvas& sheet, const SheetLayout& layout, const std::vector<SheetEntry>& entries)
{
    const UniqueFont font = CreateLabelFont(layout.fontHeight);
    const HGDIOBJ labelFont = font ? static_cast<HGDIOBJ>(font.get()) : GetStockObject(DEFAULT_GUI_FONT);
    const ScopedSelection fontSelection(sheet.Dc(), labelFont);
    SetBkMode(sheet.Dc(), TRANSPARENT);
    for (size_t i = 0; i < entries.size(); ++i) {
        const SheetEntry& entry = entries[i];
        if (entry.pixels.bgra.empty()) {
            DrawFailure(sheet.Dc(), layout.Box(i), entry, layout.labelHeight);
        } else {
            const HRESULT hr = DrawThumbnail(sheet, layout.Box(i), entry);
            if (FAILED(hr)) {
                return hr;
            }
        }
        DrawLabel(sheet.Dc(), layout.Label(i), entry.name);
    }
    return S_OK;
}

}  // namespace

HRESULT WriteContactSheet(const std::vector<SheetEntry>& entries, UINT thumbnailSize, const std::wstring& path)
{
    if (entries.empty()) {
        return E_INVALIDARG;
    }
    const SheetLayout layout = LayOut(entries.size(), thumbnailSize);
    Canvas sheet;
    HRESULT hr = sheet.Create(layout.Width(), layout.Height());
    if (FAILED(hr)) {
        return hr;
    }
    FillBackground(sheet);
    hr = DrawEntries(sheet, layout, entries);
    if (FAILED(hr)) {
        return hr;
    }
    // GDI may batch drawing; the bits are read directly below.
    GdiFlush();
    Pixels pixels;
    pixels.width = sheet.Width();
    pixels.height = sheet.Height();
    pixels.bgra.assign(sheet.Bits(), sheet.Bits() + static_cast<size_t>(pixels.Stride()) * pixels.height);
    return WritePng(pixels, false, path);
}
