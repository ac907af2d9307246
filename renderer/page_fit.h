// The thumbnail's size in pixels for a page of a given shape.
#pragma once

struct PixelSize {
    int width;
    int height;
};

// The longer edge is longerEdge; the other keeps the page's proportions, rounded, at least 1.
// The page's width and height must be positive.
PixelSize FitToLongerEdge(double pageWidth, double pageHeight, int longerEdge) noexcept;
