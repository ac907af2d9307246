// One thumbnail request: run the renderer on a document and read its result into a bitmap.
#pragma once

#include "shared/renderer_process.h"

#include <windows.h>
#include <thumbcache.h>

#include <string>

// Renders documentPath at edge length cx. Returns E_POINTER (nothing written) for a null
// out-parameter; otherwise sets *phbmp to null and *pdwAlpha to WTSAT_RGB first and returns
// S_OK with a bitmap the caller owns, E_FAIL, or E_OUTOFMEMORY. The result file it makes is
// deleted before it returns.
HRESULT RunThumbnailRequest(const std::wstring& documentPath, UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) noexcept;
