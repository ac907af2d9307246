// Writing the result file that the DLL reads: the size, then opaque BGRA rows from the top.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Rows of red, green and blue bytes, as the engine draws them.
struct RgbPixels {
    int width;
    int height;
    ptrdiff_t stride;  // bytes from one row to the next
    const uint8_t* samples;
};

// Writes the result into the open file from its start. On failure the file is emptied again, so
// that a failed write never leaves part of a result behind; returns false then.
bool WriteResultFile(HANDLE file, const RgbPixels& pixels) noexcept;
