// Where each page sits in the pane: the pages one under the other, each fit to the pane's width with
// a margin around it, in its own proportions. Plain arithmetic, no window.
#pragma once

#include "preview/page_list.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels around each page and between two pages.
constexpr int kPageMargin = 10;

struct PageRange {
    size_t first = 0;  // index of the first page in the range
    size_t end = 0;    // one past the last; first == end is empty
};

class PageLayout {
public:
    // Takes the document's pages, laid out for the width given last. Throws std::bad_alloc.
    void SetPages(std::vector<PageSizePt> pages);
    // Lays the pages out for a pane clientWidth pixels wide. Throws std::bad_alloc.
    void SetClientWidth(int clientWidth);

    size_t PageCount() const noexcept { return m_pages.size(); }
    // The width of every page: the pane's less the margins, at least 1.
    int PageWidth() const noexcept { return m_pageWidth; }
    int64_t PageTop(size_t index) const noexcept { return m_tops[index]; }
    int64_t PageHeight(size_t index) const noexcept { return m_tops[index + 1] - m_tops[index] - kPageMargin; }
    // From the top of the first margin to the bottom of the last; 0 without pages.
    int64_t TotalHeight() const noexcept { return m_pages.empty() ? 0 : m_tops.back(); }

    // The page whose slot or the margin above it holds y (clamped to the pages there are).
    size_t PageAt(int64_t y) const noexcept;
    // The pages that a band of the given height from top shows at least one row of.
    PageRange PagesIn(int64_t top, int64_t height) const noexcept;

private:
    std::vector<PageSizePt> m_pages;
    // m_tops[i]: the top of page i; m_tops[count]: the total height (the last margin included).
    std::vector<int64_t> m_tops{0};
    int m_pageWidth = 1;
};
