// Fitting a page into the requested edge length.
#include "renderer/page_fit.h"

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
