// The preview host's side of a preview handler: window, frame, message loop and capture.
#include "tools/previewhost/pane_host.h"

#include "preview/pane_messages.h"
#include "shared/gdi_resources.h"

#include <new>
#include <stdexcept>

// The frame the handler reaches through its site: it records the keys the handler hands on and
// takes none of them, as a pane without accelerators of its own would.
class PreviewFrame final : public IPreviewHandlerFrame {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPreviewHandlerFrame)) {
            *ppv = static_cast<IPreviewHandlerFrame*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }
    IFACEMETHODIMP GetWindowContext(PREVIEWHANDLERFRAMEINFO* pinfo) override
    {
        if (!pinfo) {
            return E_INVALIDARG;
        }
        pinfo->haccel = nullptr;
        pinfo->cAccelEntries = 0;
        return S_OK;
    }
    IFACEMETHODIMP TranslateAccelerator(MSG* pmsg) override
    {
        if (pmsg) {
            try {
                m_keys.push_back(*pmsg);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
        return S_FALSE;
    }

    const std::vector<MSG>& Keys() const noexcept { return m_keys; }

private:
    LONG m_cRef = 1;
    std::vector<MSG> m_keys;
};

namespace {

const wchar_t kHostClassName[] = L"TorvViewPreviewHostWindow";

void RegisterHostClass()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kHostClassName;
    // Registered once per process; a second registration fails harmlessly.
    RegisterClassExW(&windowClass);
}

RECT ClientArea(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return client;
}

// A window without a frame, as the Shell's preview pane is a part of its window: its client area is
// its size, and no screen smaller than the pane limits it (as a framed window is limited).
constexpr DWORD kHostStyle = WS_POPUP | WS_CLIPCHILDREN;

}  // namespace

PaneHost::PaneHost(int width, int height)
{
    RegisterHostClass();
    m_paintedMessage = RegisterWindowMessageW(kPanePaintedMessageName);
    m_window = CreateWindowExW(WS_EX_TOOLWINDOW, kHostClassName, L"Preview", kHostStyle, 0, 0, width, height, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!m_window) {
        throw std::runtime_error("the host's window cannot be made");
    }
    ShowWindow(m_window, SW_SHOWNOACTIVATE);
    *m_frame.put() = new PreviewFrame();
}

PaneHost::~PaneHost()
{
    Detach();
    DestroyWindow(m_window);
}

HWND PaneHost::View() const noexcept
{
    return GetWindow(m_window, GW_CHILD);
}

HRESULT PaneHost::Attach(IPreviewHandler* handler)
{
    Detach();
    m_handler.share(handler);
    ComPtr<IObjectWithSite> withSite;
    if (SUCCEEDED(m_handler.As(withSite))) {
        withSite->SetSite(m_frame.get());
    }
    const RECT client = ClientArea(m_window);
    return m_handler->SetWindow(m_window, &client);
}

void PaneHost::Detach() noexcept
{
    if (!m_handler) {
        return;
    }
    m_handler->Unload();
    ComPtr<IObjectWithSite> withSite;
    if (SUCCEEDED(m_handler.As(withSite))) {
        withSite->SetSite(nullptr);
    }
    m_handler.reset();
}

void PaneHost::Dispatch(MSG& message)
{
    if (message.hwnd == m_window && message.message == m_paintedMessage) {
        m_lastPainted.painted = true;
        m_lastPainted.firstPage = static_cast<UINT>(message.wParam);
        m_lastPainted.lastPage = static_cast<UINT>(message.lParam);
        return;
    }
    // A host's loop offers keys to the handler first; S_OK means it (or its frame) took the key.
    if (m_handler && message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST
        && m_handler->TranslateAccelerator(&message) == S_OK) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

PanePainted PaneHost::WaitForPainted(DWORD timeoutMs)
{
    m_lastPainted = PanePainted{};
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!m_lastPainted.painted) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            break;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (!m_lastPainted.painted && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            Dispatch(message);
        }
    }
    return m_lastPainted;
}

void PaneHost::Pump(DWORD milliseconds)
{
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    MSG message;
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            Dispatch(message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            break;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    } while (true);
}

void PaneHost::PressKey(WPARAM key)
{
    const HWND focus = GetFocus();
    const HWND target = focus ? focus : View();
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

HRESULT PaneHost::Resize(int width, int height)
{
    SetWindowPos(m_window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT client = ClientArea(m_window);
    return m_handler ? m_handler->SetRect(&client) : S_OK;
}

HRESULT PaneHost::Capture(Pixels& pixels) const
{
    const HWND view = View();
    if (!view) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    }
    RECT area{};
    GetClientRect(view, &area);
    if (area.right <= 0 || area.bottom <= 0) {
        return E_FAIL;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = area.right;
    info.bmiHeader.biHeight = -area.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc) {
        return E_OUTOFMEMORY;
    }
    {
        const ScopedSelection selected(dc.get(), bitmap.get());
        SendMessageW(view, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
        GdiFlush();
    }
    Pixels captured;
    captured.width = static_cast<UINT>(area.right);
    captured.height = static_cast<UINT>(area.bottom);
    const auto* first = static_cast<const BYTE*>(bits);
    captured.bgra.assign(first, first + static_cast<size_t>(captured.Stride()) * captured.height);
    // What a window shows is opaque, whatever GDI left in the fourth byte.
    for (size_t i = 3; i < captured.bgra.size(); i += 4) {
        captured.bgra[i] = 255;
    }
    pixels = std::move(captured);
    return S_OK;
}

const std::vector<MSG>& PaneHost::KeysAtFrame() const
{
    return m_frame->Keys();
}
