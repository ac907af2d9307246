// Copying a handler's bitmap out with GetDIBits, and reading its alpha type.
#include "tools/host/pixels.h"

#include "shared/gdi_resources.h"

#include <utility>

HRESULT ReadBitmapPixels(HBITMAP bitmap, Pixels& pixels)
{
    BITMAP description{};
    if (GetObjectW(bitmap, sizeof(description), &description) != sizeof(description) || description.bmWidth <= 0
        || description.bmHeight == 0) {
        return E_INVALIDARG;
    }
    const LONG height = description.bmHeight > 0 ? description.bmHeight : -description.bmHeight;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = description.bmWidth;
    info.bmiHeader.biHeight = -height;  // ask for top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    Pixels copy;
    copy.width = static_cast<UINT>(description.bmWidth);
    copy.height = static_cast<UINT>(height);
    copy.bgra.resize(static_cast<size_t>(copy.Stride()) * copy.height);

    // GetDIBits needs a device context only for palettes; a memory DC will do for 32-bit colour.
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (GetDIBits(dc.get(), bitmap, 0, copy.height, copy.bgra.data(), &info, DIB_RGB_COLORS)
        != static_cast<int>(copy.height)) {
        return E_FAIL;
    }
    pixels = std::move(copy);
    return S_OK;
}

bool UsesAlpha(WTS_ALPHATYPE alphaType, const Pixels& pixels) noexcept
{
    if (alphaType == WTSAT_ARGB) {
        return true;
    }
    if (alphaType == WTSAT_RGB) {
        return false;
    }
    for (size_t i = 3; i < pixels.bgra.size(); i += 4) {
        if (pixels.bgra[i] != 0) {
            return true;
        }
    }
    return false;
}

const wchar_t* AlphaTypeName(WTS_ALPHATYPE alphaType) noexcept
{
    switch (alphaType) {
    case WTSAT_UNKNOWN:
        return L"WTSAT_UNKNOWN";
    case WTSAT_RGB:
        return L"WTSAT_RGB";
    case WTSAT_ARGB:
        return L"WTSAT_ARGB";
    }
    return L"WTSAT_(out of range)";
}
