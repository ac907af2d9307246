// The pane's window: layout, scrolling, painting, and the pages it asks the worker for.
#include "preview/page_view.h"

#include "shared/gdi_resources.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const wchar_t kViewClassName[] = L"TorvViewPreviewPane";
// The worker's notification that results are waiting; private to the view's class.
constexpr UINT kResultsWaiting = WM_APP + 1;
// One arrow key or scroll-bar arrow; the wheel moves three of these a notch unless the user chose otherwise.
constexpr int64_t kLinePixels = 40;
// Pages kept drawn above and below those in view, so that turning back does not draw again.
constexpr size_t kPagesKeptAround = 2;
// The largest page the renderer draws (its result's edge).
constexpr int32_t kMaxRenderWidth = 4096;
// The scroll bar's positions are ints: a document taller than this scrolls in coarser units.
constexpr int64_t kMaxScrollBarRange = 0x3FFFFFFF;

// Registering and unregistering the window class, and creating and destroying its windows, on one
// lock: views may live on several threads, and the class goes with the last of its windows, so that
// an unloaded library leaves no class behind that names its code.
SRWLOCK g_classLock = SRWLOCK_INIT;

class ExclusiveClassLock {
public:
    ExclusiveClassLock() noexcept { AcquireSRWLockExclusive(&g_classLock); }
    ~ExclusiveClassLock() { ReleaseSRWLockExclusive(&g_classLock); }
    ExclusiveClassLock(const ExclusiveClassLock&) = delete;
    ExclusiveClassLock& operator=(const ExclusiveClassLock&) = delete;
};

HINSTANCE ThisModule() noexcept
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

void FillColor(HDC dc, const RECT& rect, COLORREF color) noexcept
{
    const UniqueBrush brush(CreateSolidBrush(color));
    if (brush) {
        FillRect(dc, &rect, brush.get());
    }
}

// The frame around a page: the background darkened, so that white paper stands out on any colour.
COLORREF FrameColor(COLORREF background) noexcept
{
    return RGB(GetRValue(background) * 3 / 5, GetGValue(background) * 3 / 5, GetBValue(background) * 3 / 5);
}

int ClampToInt(int64_t value) noexcept
{
    return static_cast<int>(std::max<int64_t>(INT_MIN / 2, std::min<int64_t>(INT_MAX / 2, value)));
}

}  // namespace

std::unique_ptr<PageView> PageView::Create(HWND parent, const RECT& rect, RenderWorker& worker,
                                           const PaneStyle& style) noexcept
{
    std::unique_ptr<PageView> view(new (std::nothrow) PageView(worker, style));
    if (!view) {
        return nullptr;
    }
    view->m_paintedMessage = RegisterWindowMessageW(kPanePaintedMessageName);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kViewClassName;
    {
        ExclusiveClassLock hold;
        // Already registered while another view of this library lives.
        RegisterClassExW(&windowClass);
        CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_CLIPSIBLINGS, rect.left,
                        rect.top, std::max<LONG>(0, rect.right - rect.left), std::max<LONG>(0, rect.bottom - rect.top),
                        parent, nullptr, ThisModule(), view.get());
    }
    if (!view->m_window) {
        return nullptr;
    }
    return view;
}

PageView::PageView(RenderWorker& worker, const PaneStyle& style) noexcept : m_worker(worker), m_style(style) {}

PageView::~PageView()
{
    m_worker.SetNotification(nullptr, 0);
    if (m_window) {
        ExclusiveClassLock hold;
        DestroyWindow(m_window);
        // Fails while another view of this library lives, which unregisters it in turn.
        UnregisterClassW(kViewClassName, ThisModule());
    }
}

void PageView::MoveTo(HWND parent, const RECT& rect) noexcept
{
    if (GetParent(m_window) != parent) {
        SetParent(m_window, parent);
    }
    MoveWindow(m_window, rect.left, rect.top, std::max<LONG>(0, rect.right - rect.left),
               std::max<LONG>(0, rect.bottom - rect.top), TRUE);
}

void PageView::SetStyle(const PaneStyle& style) noexcept
{
    m_style = style;
    InvalidateRect(m_window, nullptr, FALSE);
}

bool PageView::UsesKey(const MSG& message) noexcept
{
    // The release of a key is the view's as its press is.
    if (message.message != WM_KEYDOWN && message.message != WM_KEYUP) {
        return false;
    }
    switch (message.wParam) {
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_HOME:
    case VK_END:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK PageView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* view = static_cast<PageView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        view->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
    }
    auto* view = reinterpret_cast<PageView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!view) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        view->m_window = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // Nothing may unwind into the window manager: a failed allocation leaves the view as it was.
    try {
        return view->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT PageView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        m_worker.SetNotification(m_window, kResultsWaiting);
        RECT client{};
        GetClientRect(m_window, &client);
        Resize(client.right, client.bottom);
        return 0;
    }
    case WM_SIZE:
        Resize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case kResultsWaiting:
        TakeResults();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(m_window, &client);
        Paint(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_VSCROLL:
        OnScrollBar(LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        OnWheel(GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    case WM_KEYDOWN: {
        MSG key{};
        key.message = message;
        key.wParam = wParam;
        if (UsesKey(key)) {
            OnKey(wParam);
            return 0;
        }
        break;
    }
    case WM_LBUTTONDOWN:
        SetFocus(m_window);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

void PageView::TakeResults()
{
    std::vector<PageResult> results = m_worker.TakeResults();
    for (PageResult& result : results) {
        KeepResult(result);
    }
    ForgetDistantPages();
    AskForVisiblePages();
    InvalidateRect(m_window, nullptr, FALSE);
}

void PageView::KeepResult(PageResult& result)
{
    if (m_layout.PageCount() == 0) {
        if (!result.bitmap || result.pages.empty()) {
            // Nothing of the document could be drawn: the pane says why.
            m_failed = true;
            m_error = result.error;
            SetWindowTextW(m_window, DocumentErrorText(m_error));
            return;
        }
        m_layout.SetPages(std::move(result.pages));
        m_layout.SetClientWidth(m_clientWidth);
        UpdateScrollBar();
    }
    if (result.job.index >= m_layout.PageCount()) {
        return;
    }
    DrawnPage drawn;
    drawn.index = result.job.index;
    drawn.width = result.job.width;
    drawn.bitmap = std::move(result.bitmap);
    const auto same = std::find_if(m_drawn.begin(), m_drawn.end(),
                                   [&](const DrawnPage& page) { return page.index == drawn.index; });
    if (same != m_drawn.end()) {
        *same = std::move(drawn);
    } else {
        m_drawn.push_back(std::move(drawn));
    }
}

void PageView::Resize(int width, int height)
{
    // Keep the same place of the same page at the top while the pages change their height: a share
    // of the page within it, pixels within the margin above it.
    const size_t anchor = m_layout.PageAt(m_scrollY);
    int64_t intoMargin = 0;
    double intoPage = 0.0;
    if (m_layout.PageCount() > 0) {
        const int64_t offset = m_scrollY - m_layout.PageTop(anchor);
        intoMargin = std::min<int64_t>(offset, 0);
        intoPage = static_cast<double>(std::max<int64_t>(offset, 0))
            / static_cast<double>(std::max<int64_t>(1, m_layout.PageHeight(anchor)));
    }
    const bool widthChanged = width != m_clientWidth;
    m_clientWidth = width;
    m_clientHeight = height;
    int64_t y = m_scrollY;
    if (widthChanged) {
        m_layout.SetClientWidth(width);
        if (m_layout.PageCount() > 0) {
            y = m_layout.PageTop(anchor) + intoMargin
                + static_cast<int64_t>(std::llround(intoPage * static_cast<double>(m_layout.PageHeight(anchor))));
        }
    }
    m_scrollY = std::max<int64_t>(0, std::min(y, MaxScroll()));
    UpdateScrollBar();
    ForgetDistantPages();
    AskForVisiblePages();
    InvalidateRect(m_window, nullptr, FALSE);
}

void PageView::ScrollTo(int64_t y)
{
    y = std::max<int64_t>(0, std::min(y, MaxScroll()));
    if (y == m_scrollY) {
        return;
    }
    m_scrollY = y;
    UpdateScrollBar();
    ForgetDistantPages();
    AskForVisiblePages();
    InvalidateRect(m_window, nullptr, FALSE);
}

void PageView::OnScrollBar(WORD request)
{
    switch (request) {
    case SB_LINEUP:
        ScrollBy(-kLinePixels);
        break;
    case SB_LINEDOWN:
        ScrollBy(kLinePixels);
        break;
    case SB_PAGEUP:
        ScrollBy(-PageStep());
        break;
    case SB_PAGEDOWN:
        ScrollBy(PageStep());
        break;
    case SB_TOP:
        ScrollTo(0);
        break;
    case SB_BOTTOM:
        ScrollTo(MaxScroll());
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        // The 32-bit track position, not the 16 bits of the message.
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_TRACKPOS;
        if (GetScrollInfo(m_window, SB_VERT, &info)) {
            ScrollTo(static_cast<int64_t>(info.nTrackPos) * ScrollUnit());
        }
        break;
    }
    default:
        break;
    }
}

void PageView::OnKey(WPARAM key)
{
    switch (key) {
    case VK_UP:
        ScrollBy(-kLinePixels);
        break;
    case VK_DOWN:
        ScrollBy(kLinePixels);
        break;
    case VK_PRIOR:
        ScrollBy(-PageStep());
        break;
    case VK_NEXT:
        ScrollBy(PageStep());
        break;
    case VK_HOME:
        ScrollTo(0);
        break;
    case VK_END:
        ScrollTo(MaxScroll());
        break;
    default:
        break;
    }
}

void PageView::OnWheel(short delta)
{
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    // Fractions of a notch (fine-grained wheels and touchpads) scroll a fraction of the distance.
    const int64_t perNotch = lines == WHEEL_PAGESCROLL ? PageStep() : static_cast<int64_t>(lines) * kLinePixels;
    ScrollBy(-static_cast<int64_t>(delta) * perNotch / WHEEL_DELTA);
}

void PageView::UpdateScrollBar() noexcept
{
    const int64_t unit = ScrollUnit();
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    // Always shown, disabled while everything fits: the pages' width never changes with their count.
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = static_cast<int>(std::max<int64_t>(0, m_layout.TotalHeight() - 1) / unit);
    info.nPage = static_cast<UINT>(std::max(0, m_clientHeight) / unit);
    info.nPos = static_cast<int>(m_scrollY / unit);
    SetScrollInfo(m_window, SB_VERT, &info, TRUE);
}

void PageView::AskForVisiblePages()
{
    std::vector<PageJob> jobs;
    if (!m_failed && m_clientWidth > 0 && m_clientHeight > 0) {
        const int32_t width = RenderWidth();
        if (m_layout.PageCount() == 0) {
            // The first page also brings the page list.
            jobs.push_back(PageJob{0, width});
        } else {
            const PageRange visible = VisiblePages();
            // The pages in view, top to bottom, then the next one ahead.
            const size_t end = std::min(visible.end + 1, m_layout.PageCount());
            for (size_t index = visible.first; index < end; ++index) {
                if (!HasCurrentPage(index)) {
                    jobs.push_back(PageJob{static_cast<uint32_t>(index), width});
                }
            }
        }
    }
    m_worker.SetWanted(jobs);
}

void PageView::ForgetDistantPages() noexcept
{
    const PageRange visible = VisiblePages();
    const size_t first = visible.first > kPagesKeptAround ? visible.first - kPagesKeptAround : 0;
    const size_t end = visible.end + kPagesKeptAround;
    m_drawn.erase(std::remove_if(m_drawn.begin(), m_drawn.end(),
                                 [&](const DrawnPage& page) { return page.index < first || page.index >= end; }),
                  m_drawn.end());
}

int32_t PageView::RenderWidth() const noexcept
{
    return std::min(m_layout.PageWidth(), kMaxRenderWidth);
}

int64_t PageView::MaxScroll() const noexcept
{
    return std::max<int64_t>(0, m_layout.TotalHeight() - m_clientHeight);
}

int64_t PageView::PageStep() const noexcept
{
    // A little of the page before stays in view, so that reading goes on where it left off.
    return std::max<int64_t>(kLinePixels, m_clientHeight - kLinePixels);
}

int64_t PageView::ScrollUnit() const noexcept
{
    return std::max<int64_t>(1, (m_layout.TotalHeight() + kMaxScrollBarRange - 1) / kMaxScrollBarRange);
}

PageRange PageView::VisiblePages() const noexcept
{
    return m_layout.PagesIn(m_scrollY, m_clientHeight);
}

const PageView::DrawnPage* PageView::Drawn(size_t index) const noexcept
{
    const auto found =
        std::find_if(m_drawn.begin(), m_drawn.end(), [&](const DrawnPage& page) { return page.index == index; });
    return found == m_drawn.end() ? nullptr : &*found;
}

bool PageView::HasCurrentPage(size_t index) const noexcept
{
    const DrawnPage* drawn = Drawn(index);
    return drawn && drawn->width == RenderWidth();
}

bool PageView::Settled() const noexcept
{
    if (m_failed) {
        return true;
    }
    if (m_layout.PageCount() == 0) {
        return false;
    }
    const PageRange visible = VisiblePages();
    for (size_t index = visible.first; index < visible.end; ++index) {
        if (!HasCurrentPage(index)) {
            return false;
        }
    }
    return true;
}

void PageView::Paint(HDC dc, const RECT& client) const noexcept
{
    FillColor(dc, client, m_style.background);
    if (m_failed) {
        RECT area = client;
        InflateRect(&area, -2 * kPageMargin, -2 * kPageMargin);
        PaintMessage(dc, area, DocumentErrorText(m_error), m_style.text);
        return;
    }
    const UniqueMemoryDc source(CreateCompatibleDC(dc));
    const PageRange visible = VisiblePages();
    for (size_t index = visible.first; index < visible.end; ++index) {
        PaintPage(dc, source.get(), index, client);
    }
}

void PageView::PaintPage(HDC dc, HDC source, size_t index, const RECT& client) const noexcept
{
    const int64_t top = m_layout.PageTop(index) - m_scrollY;
    const int64_t height = m_layout.PageHeight(index);
    const int left = kPageMargin;
    const int width = m_layout.PageWidth();
    // The part of the slot inside the pane, in 32-bit coordinates however tall the page.
    RECT slot{left, ClampToInt(std::max<int64_t>(top, client.top - 1)), left + width,
              ClampToInt(std::min<int64_t>(top + height, client.bottom + 1))};
    RECT frame = slot;
    InflateRect(&frame, 1, 1);
    FillColor(dc, frame, FrameColor(m_style.background));
    FillColor(dc, slot, RGB(255, 255, 255));

    const DrawnPage* drawn = Drawn(index);
    if (!drawn) {
        return;
    }
    if (!drawn->bitmap) {
        RECT area{left, ClampToInt(std::max<int64_t>(top, 0)), left + width,
                  ClampToInt(std::min<int64_t>(top + height, client.bottom))};
        PaintMessage(dc, area, PageErrorText(), RGB(96, 96, 96));
        return;
    }
    BITMAP bitmap{};
    if (!source || GetObjectW(drawn->bitmap.get(), sizeof(bitmap), &bitmap) != sizeof(bitmap)) {
        return;
    }
    const ScopedSelection selected(source, drawn->bitmap.get());
    const int visibleTop = slot.top;
    const int visibleHeight = slot.bottom - slot.top;
    if (bitmap.bmWidth == width && bitmap.bmHeight == height) {
        BitBlt(dc, left, visibleTop, width, visibleHeight, source, 0, static_cast<int>(visibleTop - top), SRCCOPY);
        return;
    }
    // Drawn at another width (the pane was resized) or capped at 4096 rows: scaled into its slot
    // until it is drawn again.
    const double scale = static_cast<double>(bitmap.bmHeight) / static_cast<double>(height);
    const int sourceTop = static_cast<int>(std::floor((visibleTop - top) * scale));
    const int sourceHeight =
        std::min(std::max(1, static_cast<int>(std::ceil(visibleHeight * scale))), static_cast<int>(bitmap.bmHeight) - sourceTop);
    if (sourceHeight <= 0) {
        return;
    }
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, left, visibleTop, width, visibleHeight, source, 0, sourceTop, bitmap.bmWidth, sourceHeight,
               SRCCOPY);
}

void PageView::PaintMessage(HDC dc, const RECT& area, const wchar_t* text, COLORREF color) const noexcept
{
    UniqueFont font;
    if (m_style.hasFont) {
        font.reset(CreateFontIndirectW(&m_style.font));
    }
    const ScopedSelection selected(dc, font ? static_cast<HGDIOBJ>(font.get()) : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    // Centred as a block: measured first, then drawn in the middle of the area.
    RECT measured = area;
    DrawTextW(dc, text, -1, &measured, DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    RECT placed = area;
    placed.top = area.top + std::max<LONG>(0, ((area.bottom - area.top) - (measured.bottom - measured.top)) / 2);
    DrawTextW(dc, text, -1, &placed, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

void PageView::OnPaint() noexcept
{
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(m_window, &paint);
    if (!dc) {
        return;
    }
    RECT client{};
    GetClientRect(m_window, &client);
    // Drawn off screen first, so that the pane never shows a page half drawn over the background.
    const UniqueMemoryDc buffer(CreateCompatibleDC(dc));
    const UniqueBitmap pixels(CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (buffer && pixels) {
        const ScopedSelection selected(buffer.get(), pixels.get());
        Paint(buffer.get(), client);
        BitBlt(dc, 0, 0, client.right, client.bottom, buffer.get(), 0, 0, SRCCOPY);
    } else {
        Paint(dc, client);
    }
    EndPaint(m_window, &paint);
    if (Settled()) {
        AnnouncePainted();
    }
}

void PageView::AnnouncePainted() const noexcept
{
    const HWND parent = GetParent(m_window);
    if (!parent || !m_paintedMessage) {
        return;
    }
    const PageRange visible = VisiblePages();
    const bool showsPages = !m_failed && visible.end > visible.first;
    PostMessageW(parent, m_paintedMessage, showsPages ? visible.first + 1 : 0, showsPages ? visible.end : 0);
}
