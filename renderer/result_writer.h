// Writing the result file that the DLL reads: the size, then opaque BGRA rows from the top.
#pragma once

#include "renderer/rgb_pixels.h"

#include <windows.h>

// Writes the result into the open file from its start. On failure the file is emptied again, so
// that a failed write never leaves part of a result behind; returns false then.
bool WriteResultFile(HANDLE file, const RgbPixels& pixels) noexcept;
