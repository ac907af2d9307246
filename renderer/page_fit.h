// The size in pixels a page is drawn at: the thumbnail's, fitted to a longer edge, and the preview's,
// fitted to a width.
#pragma once

struct PixelSize {
    int width;
    int height;
};

// The longer edge is longerEdge; the other keeps the page's proportions, rounded, at least 1.
// The page's width and height must be positive.
PixelSize FitToLongerEdge(double pageWidth, double pageHeight, int longerEdge) noexcept;

// width x PageHeightForWidth (page_list.h) where that is at most kMaxPageWidth high; else
// kMaxPageWidth high and as wide as the page's proportions make it, rounded, at least 1.
PixelSize FitToWidth(float pageWidth, float pageHeight, int width) noexcept;
