// What TorvView.exe --page and the preview DLL agree on: how many pages a document lists, the page
// list file's bytes, and how tall a page is drawn for a width. Header-only and portable, so that both
// programs compile the same arithmetic and the pane's blank paper is exactly as tall as the drawn page.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A document with more pages lists (and the pane shows) its first kMaxPreviewPages.
constexpr uint32_t kMaxPreviewPages = 100000;
// The widest page that can be asked for, and the tallest one drawn.
constexpr int kMaxPageWidth = 4096;
// PageHeightForWidth never answers more, so that a height always fits an int: a page 4,800 times
// taller than wide (ISO 32000's extreme sizes) is 19.7 million pixels tall at 4096 and is capped.
constexpr int kMaxPageHeightForWidth = 1 << 24;

// A page's visible area in points (crop box within media box, turned by /Rotate), as displayed.
struct PageSizePt {
    float width;
    float height;
};

// The height in pixels of a page drawn width pixels wide: its proportions kept, rounded, at least 1
// and at most kMaxPageHeightForWidth. Defined for every input; a size that is not positive gives 1.
inline int PageHeightForWidth(float widthPt, float heightPt, int width) noexcept
{
    if (!(widthPt > 0.0f) || !(heightPt > 0.0f) || width < 1) {
        return 1;
    }
    const double height = std::floor(width * (static_cast<double>(heightPt) / widthPt) + 0.5);
    if (!(height >= 1.0)) {
        return 1;
    }
    return height > kMaxPageHeightForWidth ? kMaxPageHeightForWidth : static_cast<int>(height);
}

// The page list file: uint32 count, then count pairs of float32 width and height in points, in page
// order, all little-endian.
constexpr size_t kPageListHeaderBytes = 4;
constexpr size_t kPageListEntryBytes = 8;

namespace page_list_detail {

inline void PutUint32(uint32_t value, uint8_t* out) noexcept
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline uint32_t GetUint32(const uint8_t* in) noexcept
{
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

inline uint32_t FloatBits(float value) noexcept
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

inline float BitsFloat(uint32_t bits) noexcept
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

}  // namespace page_list_detail

// The file's bytes for these pages. Throws std::bad_alloc.
inline std::vector<uint8_t> EncodePageList(const std::vector<PageSizePt>& pages)
{
    using namespace page_list_detail;
    std::vector<uint8_t> bytes(kPageListHeaderBytes + pages.size() * kPageListEntryBytes);
    PutUint32(static_cast<uint32_t>(pages.size()), bytes.data());
    uint8_t* entry = bytes.data() + kPageListHeaderBytes;
    for (const PageSizePt& page : pages) {
        PutUint32(FloatBits(page.width), entry);
        PutUint32(FloatBits(page.height), entry + 4);
        entry += kPageListEntryBytes;
    }
    return bytes;
}

// Reads a whole page list file into pages. False, with pages untouched, for bytes that are not exactly
// a count from 1 to kMaxPreviewPages and that many sizes, each finite and positive. Throws std::bad_alloc.
inline bool DecodePageList(const uint8_t* bytes, size_t byteCount, std::vector<PageSizePt>& pages)
{
    using namespace page_list_detail;
    if (byteCount < kPageListHeaderBytes) {
        return false;
    }
    const uint32_t count = GetUint32(bytes);
    if (count == 0 || count > kMaxPreviewPages || byteCount != kPageListHeaderBytes + count * kPageListEntryBytes) {
        return false;
    }
    std::vector<PageSizePt> decoded(count);
    const uint8_t* entry = bytes + kPageListHeaderBytes;
    for (PageSizePt& page : decoded) {
        page.width = BitsFloat(GetUint32(entry));
        page.height = BitsFloat(GetUint32(entry + 4));
        if (!(page.width > 0.0f) || !(page.height > 0.0f) || !std::isfinite(page.width)
            || !std::isfinite(page.height)) {
            return false;
        }
        entry += kPageListEntryBytes;
    }
    pages.swap(decoded);
    return true;
}
