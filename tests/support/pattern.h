// The known pixel pattern the test renderer writes and the tests expect back.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_support {

// Byte i of the pixel data written with the given seed; neighbouring bytes and rows differ, so a
// row out of order or an off-by-one shows.
inline uint8_t PatternByte(uint64_t index, uint32_t seed)
{
    uint64_t x = index * 0x9E3779B97F4A7C15ull + seed;
    x ^= x >> 29;
    return static_cast<uint8_t>(x ^ (x >> 8) ^ (index & 0xFF));
}

// Byte i of page P's pixels as the test renderer's page mode writes them: the pattern with seed P,
// every fourth byte 255 as TorvView.exe writes it.
inline uint8_t PageByte(uint64_t index, uint32_t page)
{
    return index % 4 == 3 ? 255 : PatternByte(index, page);
}

// A complete result file: header, then width * height * 4 pattern bytes.
inline std::vector<uint8_t> PatternFile(int32_t width, int32_t height, uint32_t seed)
{
    const size_t pixelBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    std::vector<uint8_t> file(8 + pixelBytes);
    std::memcpy(&file[0], &width, 4);
    std::memcpy(&file[4], &height, 4);
    for (size_t i = 0; i < pixelBytes; ++i) {
        file[8 + i] = PatternByte(i, seed);
    }
    return file;
}

}  // namespace testing_support
