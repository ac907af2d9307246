// The pane's window: the pages one under the other, fit to its width, scrolled with the scroll bar,
// the wheel and the keys; each page drawn when it comes into view, plain paper until then.
#pragma once

#include "preview/page_layout.h"
#include "preview/pane_messages.h"
#include "preview/preview_error.h"
#include "preview/render_worker.h"
#include "shared/unique_resource.h"

#include <windows.h>

#include <memory>
#include <vector>

// The colours and font around the pages, from IPreviewHandlerVisuals; the pages stay white paper.
struct PaneStyle {
    COLORREF background = GetSysColor(COLOR_APPWORKSPACE);
    COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    bool hasFont = false;
    LOGFONTW font{};
};

class PageView {
public:
    // Creates the view as a visible child of parent covering rect, which asks worker for the pages
    // it shows; null when the window cannot be made. The worker must outlive the view.
    static std::unique_ptr<PageView> Create(HWND parent, const RECT& rect, RenderWorker& worker,
                                            const PaneStyle& style) noexcept;
    ~PageView();
    PageView(const PageView&) = delete;
    PageView& operator=(const PageView&) = delete;

    HWND Window() const noexcept { return m_window; }
    void MoveTo(HWND parent, const RECT& rect) noexcept;
    void SetStyle(const PaneStyle& style) noexcept;

    // Whether the view handles this keyboard message itself (the press or release of a scrolling
    // key), so that a host should dispatch it rather than hand it to its frame.
    static bool UsesKey(const MSG& message) noexcept;

private:
    struct DrawnPage {
        size_t index = 0;
        int32_t width = 0;    // the width it was asked for; the bitmap may be narrower (the 4096 cap)
        UniqueBitmap bitmap;  // empty when the page could not be drawn
    };

    PageView(RenderWorker& worker, const PaneStyle& style) noexcept;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void TakeResults();
    void KeepResult(PageResult& result);
    void Resize(int width, int height);
    void ScrollTo(int64_t y);
    void ScrollBy(int64_t pixels) { ScrollTo(m_scrollY + pixels); }
    void OnScrollBar(WORD request);
    void OnKey(WPARAM key);
    void OnWheel(short delta);
    void UpdateScrollBar() noexcept;
    void AskForVisiblePages();
    void ForgetDistantPages() noexcept;

    int32_t RenderWidth() const noexcept;
    int64_t MaxScroll() const noexcept;
    int64_t PageStep() const noexcept;
    int64_t ScrollUnit() const noexcept;
    PageRange VisiblePages() const noexcept;
    const DrawnPage* Drawn(size_t index) const noexcept;
    bool HasCurrentPage(size_t index) const noexcept;
    bool Settled() const noexcept;

    void Paint(HDC dc, const RECT& client) const noexcept;
    void PaintPage(HDC dc, HDC source, size_t index, const RECT& client) const noexcept;
    void PaintMessage(HDC dc, const RECT& area, const wchar_t* text, COLORREF color) const noexcept;
    void OnPaint() noexcept;
    void AnnouncePainted() const noexcept;

    RenderWorker& m_worker;
    PaneStyle m_style;
    HWND m_window = nullptr;
    UINT m_paintedMessage = 0;
    PageLayout m_layout;
    int m_clientWidth = 0;
    int m_clientHeight = 0;
    int64_t m_scrollY = 0;
    bool m_failed = false;
    PreviewError m_error = PreviewError::Other;
    std::vector<DrawnPage> m_drawn;
};
