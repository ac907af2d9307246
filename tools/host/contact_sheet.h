// A contact sheet: every file's thumbnail in a grid with its name under it, like a folder view,
// so the outcome of a run can be seen at a glance.
#pragma once

#include "tools/host/pixels.h"

#include <string>
#include <vector>

struct SheetEntry {
    std::wstring name;     // shown under the cell
    Pixels pixels;         // empty when no thumbnail was made
    bool usesAlpha = false;
    std::wstring failure;      // shown in the cell of a failed file: a short name of the result
    std::wstring failureCode;  // and its hex value
};

// Cells are thumbnailSize square (at least 96 pixels, so failure text fits); thumbnails larger
// than a cell are scaled down. Written as an opaque PNG; the calling thread must be in a COM apartment.
HRESULT WriteContactSheet(const std::vector<SheetEntry>& entries, UINT thumbnailSize, const std::wstring& path);
