// A thumbnail's pixels, copied out of the handler's bitmap so nothing depends on its DIB layout.
#pragma once

#include <windows.h>
#include <thumbcache.h>

#include <vector>

struct Pixels {
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> bgra;  // rows top to bottom, 4 bytes per pixel: blue, green, red, alpha

    UINT Stride() const noexcept { return width * 4; }
};

// Copies any bitmap as 32-bit top-down pixels.
HRESULT ReadBitmapPixels(HBITMAP bitmap, Pixels& pixels);

// Whether the fourth byte is meant as alpha: always for WTSAT_ARGB, never for WTSAT_RGB, and for
// WTSAT_UNKNOWN when some pixel has a nonzero alpha, as the Shell guesses.
bool UsesAlpha(WTS_ALPHATYPE alphaType, const Pixels& pixels) noexcept;

// "WTSAT_RGB", "WTSAT_ARGB", "WTSAT_UNKNOWN" or "WTSAT_(out of range)".
const wchar_t* AlphaTypeName(WTS_ALPHATYPE alphaType) noexcept;
