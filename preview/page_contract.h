// What TorvView.exe's page mode and the preview handler agree on: how many pages a list holds at
// most, and the height of a page drawn at a width, so that the paper shown for a page not yet drawn
// has the height the drawn page will have.
#pragma once

#include <cmath>
#include <cstdint>

constexpr uint32_t kMaxPreviewPages = 100000;

// The height in pixels of a page widthPt x heightPt points in size drawn width pixels wide: in the
// page's proportions, rounded, at least 1.
inline int64_t PageHeightForWidth(float widthPt, float heightPt, int32_t width)
{
    const double height = std::floor(static_cast<double>(width) * heightPt / widthPt + 0.5);
    return height < 1.0 ? 1 : static_cast<int64_t>(height);
}
