// Writing the files that the DLL reads: the result file (the size, then opaque BGRA rows from the
// top) and the page list file.
#pragma once

#include "renderer/page_list.h"
#include "renderer/rgb_pixels.h"

#include <windows.h>

#include <vector>

// Writes the result into the open file from its start. On failure the file is emptied again, so
// that a failed write never leaves part of a result behind; returns false then.
bool WriteResultFile(HANDLE file, const RgbPixels& pixels) noexcept;

// Writes the page list into the open file from its start; on failure empties the file again and
// returns false.
bool WritePageListFile(HANDLE file, const std::vector<PageSizePt>& pages) noexcept;

// Cuts an open file back to nothing, so that a caller that gives up leaves no partial file behind.
void EmptyOutputFile(HANDLE file) noexcept;
