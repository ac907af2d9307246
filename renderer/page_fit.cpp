// Fitting a page into the requested edge length or width.
#include "renderer/page_fit.h"

#include "renderer/page_list.h"

#include <cmath>

namespace {

int ShorterEdge(double shorter, double longer, int longerEdge) noexcept
{
    const double scaled = std::floor(longerEdge * (shorter / longer) + 0.5);
    return scaled < 1.0 ? 1 : static_cast<int>(scaled);
}

}  // namespace

PixelSize FitToLongerEdge(double pageWidth, double pageHeight, int longerEdge) noexcept
{
    if (pageWidth >= pageHeight) {
        return PixelSize{longerEdge, ShorterEdge(pageHeight, pageWidth, longerEdge)};
    }
    return PixelSize{ShorterEdge(pageWidth, pageHeight, longerEdge), longerEdge};
}

PixelSize FitToWidth(float pageWidth, float pageHeight, int width) noexcept
{
    const int height = PageHeightForWidth(pageWidth, pageHeight, width);
    if (height <= kMaxPageWidth) {
        return PixelSize{width, height};
    }
    // Taller than the cap means narrower than width at the cap, so the rounding stays within width.
    const int reduced = ShorterEdge(pageWidth, pageHeight, kMaxPageWidth);
    return PixelSize{reduced < width ? reduced : width, kMaxPageWidth};
}
