// Writes pixels as a PNG file with the platform's imaging library (WIC).
#pragma once

#include "tools/host/pixels.h"

#include <string>

// keepAlpha writes the fourth byte as straight alpha; otherwise the image is opaque. A file that
// could not be completed is deleted. The calling thread must be in a COM apartment.
HRESULT WritePng(const Pixels& pixels, bool keepAlpha, const std::wstring& path);
