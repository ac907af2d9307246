// The page as the engine draws it: rows of red, green and blue bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct RgbPixels {
    int width;
    int height;
    ptrdiff_t stride;  // bytes from one row to the next
    const uint8_t* samples;
};
