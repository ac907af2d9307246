// The pages' places in the pane.
#include "preview/page_layout.h"

#include "renderer/page_list.h"

#include <algorithm>

void PageLayout::SetPages(std::vector<PageSizePt> pages)
{
    std::vector<int64_t> tops(pages.size() + 1, 0);
    m_tops.swap(tops);
    m_pages.swap(pages);
    SetClientWidth(m_pageWidth + 2 * kPageMargin);
}

void PageLayout::SetClientWidth(int clientWidth)
{
    m_pageWidth = std::max(1, clientWidth - 2 * kPageMargin);
    m_tops.resize(m_pages.size() + 1);
    int64_t y = kPageMargin;
    for (size_t i = 0; i < m_pages.size(); ++i) {
        m_tops[i] = y;
        y += PageHeightForWidth(m_pages[i].width, m_pages[i].height, m_pageWidth) + kPageMargin;
    }
    m_tops[m_pages.size()] = y;
}

size_t PageLayout::PageAt(int64_t y) const noexcept
{
    if (m_pages.empty()) {
        return 0;
    }
    // The first page whose top is below y, less one: the page above it, or the margin above it, holds y.
    const auto after = std::upper_bound(m_tops.begin(), m_tops.end() - 1, y);
    return after == m_tops.begin() ? 0 : static_cast<size_t>(after - m_tops.begin()) - 1;
}

PageRange PageLayout::PagesIn(int64_t top, int64_t height) const noexcept
{
    PageRange range;
    if (m_pages.empty() || height <= 0) {
        return range;
    }
    const int64_t bottom = top + height;
    range.first = PageAt(top);
    // A band that starts in the margin below a page shows that page not at all.
    if (PageTop(range.first) + PageHeight(range.first) <= top) {
        ++range.first;
    }
    range.end = range.first;
    while (range.end < m_pages.size() && PageTop(range.end) < bottom) {
        ++range.end;
    }
    return range;
}
