// The renderer's result file: an 8-byte header, then 32-bit pixels, rows top to bottom.
#pragma once

#include <windows.h>

#include <cstdint>

struct ResultFileHeader {
    int32_t width;   // pixels per row, 1..4096
    int32_t height;  // rows, 1..4096
};
static_assert(sizeof(ResultFileHeader) == 8, "the header is two packed 32-bit fields");

constexpr int32_t kMaxResultEdge = 4096;

// Reads a result file from its current position into a new 32-bit top-down DIB section.
// On success returns the bitmap, which the caller owns; on any failure returns null and leaves
// nothing allocated. Bytes after the pixel data are not read.
HBITMAP ReadResultFile(HANDLE file) noexcept;

// Opens the file at path for reading and reads it as ReadResultFile does; null when it cannot be
// opened or read.
HBITMAP ReadResultFileAt(const wchar_t* path) noexcept;
