// The result file format: int32 width, int32 height, then width x height x 4 bytes, blue, green,
// red and 255, rows top to bottom, all little-endian like every Windows target; and the page list
// file (page_list.h).
#include "renderer/result_writer.h"

#include <new>
#include <vector>

namespace {

// Rows are converted and written in batches of about this many bytes.
constexpr size_t kBatchBytes = size_t(1) << 20;

bool WriteAll(HANDLE file, const void* data, size_t byteCount) noexcept
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (byteCount > 0) {
        const DWORD chunk = byteCount > 0x1000000 ? 0x1000000 : static_cast<DWORD>(byteCount);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) {
            return false;
        }
        bytes += chunk;
        byteCount -= chunk;
    }
    return true;
}

void ToOpaqueBgra(const uint8_t* rgb, int width, uint8_t* bgra) noexcept
{
    for (int x = 0; x < width; ++x, rgb += 3, bgra += 4) {
        bgra[0] = rgb[2];
        bgra[1] = rgb[1];
        bgra[2] = rgb[0];
        bgra[3] = 255;
    }
}

bool WriteRows(HANDLE file, const RgbPixels& pixels)
{
    const size_t rowBytes = static_cast<size_t>(pixels.width) * 4;
    const size_t rowsPerBatch = rowBytes >= kBatchBytes ? 1 : kBatchBytes / rowBytes;
    std::vector<uint8_t> batch(rowsPerBatch * rowBytes);
    for (int y = 0; y < pixels.height;) {
        size_t rows = 0;
        for (; rows < rowsPerBatch && y < pixels.height; ++rows, ++y) {
            ToOpaqueBgra(pixels.samples + y * pixels.stride, pixels.width, &batch[rows * rowBytes]);
        }
        if (!WriteAll(file, batch.data(), rows * rowBytes)) {
            return false;
        }
    }
    return true;
}

bool WriteHeaderAndRows(HANDLE file, const RgbPixels& pixels) noexcept
{
    const int32_t header[2] = {pixels.width, pixels.height};
    try {
        return WriteAll(file, header, sizeof(header)) && WriteRows(file, pixels);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

void EmptyOutputFile(HANDLE file) noexcept
{
    LARGE_INTEGER start{};
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file);
    }
}

bool WriteResultFile(HANDLE file, const RgbPixels& pixels) noexcept
{
    if (WriteHeaderAndRows(file, pixels)) {
        return true;
    }
    EmptyOutputFile(file);
    return false;
}

bool WritePageListFile(HANDLE file, const std::vector<PageSizePt>& pages) noexcept
{
    try {
        const std::vector<uint8_t> bytes = EncodePageList(pages);
        if (WriteAll(file, bytes.data(), bytes.size())) {
            return true;
        }
    } catch (const std::bad_alloc&) {
    }
    EmptyOutputFile(file);
    return false;
}
