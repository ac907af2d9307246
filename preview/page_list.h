// The renderer's page list: every page's visible size in points, in page order.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct PageSize {
    float widthPt;
    float heightPt;
};
static_assert(sizeof(PageSize) == 8, "two packed float32 values, as the file holds them");

// Reads a page list file from its start: a little-endian uint32 count (1 to kMaxPreviewPages), then
// count pairs of float32 width and height. False, with pages untouched, for anything else: a short
// file, a count out of range, a size that is not a finite positive number. Throws std::bad_alloc.
bool ReadPageList(HANDLE file, std::vector<PageSize>& pages);

// The same for the file at path.
bool ReadPageListAt(const wchar_t* path, std::vector<PageSize>& pages);
