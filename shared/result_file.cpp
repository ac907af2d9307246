// Turns a renderer's result file into a bitmap with one read straight into the DIB section.
#include "shared/result_file.h"

#include "shared/unique_resource.h"

namespace {

// (value - 1) as unsigned puts 0 and every negative value above the upper bound.
bool IsValidEdge(int32_t value) noexcept
{
    return static_cast<uint32_t>(value) - 1u <= static_cast<uint32_t>(kMaxResultEdge - 1);
}

bool ReadHeader(HANDLE file, ResultFileHeader& header) noexcept
{
    header = ResultFileHeader{};
    DWORD read = 0;
    return ReadFile(file, &header, sizeof(header), &read, nullptr) && read == sizeof(header);
}

UniqueBitmap CreateTopDownBitmap(const ResultFileHeader& header, void** pixels) noexcept
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = header.width;
    info.bmiHeader.biHeight = -header.height;  // negative: the first row in memory is the top row
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    *pixels = nullptr;
    return UniqueBitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, pixels, nullptr, 0));
}

}  // namespace

HBITMAP ReadResultFile(HANDLE file) noexcept
{
    ResultFileHeader header;
    if (!ReadHeader(file, header) || !IsValidEdge(header.height) || !IsValidEdge(header.width)) {
        return nullptr;
    }
    void* pixels = nullptr;
    UniqueBitmap bitmap = CreateTopDownBitmap(header, &pixels);
    if (!bitmap || !pixels) {
        return nullptr;
    }
    // At most 4096 * 4096 * 4 = 64 MiB, which fits the 32-bit count ReadFile takes.
    const DWORD pixelBytes = static_cast<DWORD>(header.width) * static_cast<DWORD>(header.height) * 4u;
    DWORD read = 0;
    if (!ReadFile(file, pixels, pixelBytes, &read, nullptr) || read != pixelBytes) {
        return nullptr;
    }
    return bitmap.release();
}

HBITMAP ReadResultFileAt(const wchar_t* path) noexcept
{
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return nullptr;
    }
    return ReadResultFile(file.get());
}
