// Preview handler object: interface plumbing around the view and the worker.
#include "preview/preview_handler.h"

#include "preview/preview_module.h"

#include <new>

CTorvPreview::CTorvPreview() noexcept : m_cRef(1)
{
    InterlockedIncrement(&g_previewObjectCount);
}

CTorvPreview::~CTorvPreview()
{
    StopPreview();
    InterlockedDecrement(&g_previewObjectCount);
}

IFACEMETHODIMP CTorvPreview::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPreviewHandler)) {
        *ppv = static_cast<IPreviewHandler*>(this);
    } else if (IsEqualIID(riid, IID_IInitializeWithStream)) {
        *ppv = static_cast<IInitializeWithStream*>(this);
    } else if (IsEqualIID(riid, IID_IInitializeWithFile)) {
        *ppv = static_cast<IInitializeWithFile*>(this);
    } else if (IsEqualIID(riid, IID_IObjectWithSite)) {
        *ppv = static_cast<IObjectWithSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow)) {
        *ppv = static_cast<IOleWindow*>(this);
    } else if (IsEqualIID(riid, IID_IPreviewHandlerVisuals)) {
        *ppv = static_cast<IPreviewHandlerVisuals*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    InterlockedIncrement(&m_cRef);
    return S_OK;
}

IFACEMETHODIMP_(ULONG) CTorvPreview::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

IFACEMETHODIMP_(ULONG) CTorvPreview::Release()
{
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

IFACEMETHODIMP CTorvPreview::Initialize(IStream* pstream, DWORD)
{
    if (!pstream) {
        return E_INVALIDARG;
    }
    if (Initialized()) {
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    }
    m_stream.share(pstream);
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::Initialize(LPCWSTR pszFilePath, DWORD)
{
    if (!pszFilePath || !*pszFilePath) {
        return E_INVALIDARG;
    }
    if (Initialized()) {
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    }
    try {
        m_path = pszFilePath;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

IFACEMETHODIMP CTorvPreview::SetWindow(HWND hwnd, const RECT* prc)
{
    if (!hwnd || !prc) {
        return E_INVALIDARG;
    }
    m_parent = hwnd;
    m_rect = *prc;
    if (m_view) {
        m_view->MoveTo(m_parent, m_rect);
        return S_OK;
    }
    // A DoPreview that came before any window starts now.
    return m_previewing ? StartPreview() : S_OK;
}

IFACEMETHODIMP CTorvPreview::SetRect(const RECT* prc)
{
    if (!prc) {
        return E_INVALIDARG;
    }
    m_rect = *prc;
    if (m_view) {
        m_view->MoveTo(m_parent, m_rect);
    }
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::DoPreview()
{
    if (!Initialized()) {
        return E_UNEXPECTED;
    }
    // A second DoPreview finds the preview running.
    if (m_previewing) {
        return S_OK;
    }
    m_previewing = true;
    return m_parent ? StartPreview() : S_OK;
}

IFACEMETHODIMP CTorvPreview::Unload()
{
    StopPreview();
    m_previewing = false;
    m_stream.reset();
    m_path.clear();
    m_path.shrink_to_fit();
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::SetFocus()
{
    if (!m_view) {
        return S_FALSE;
    }
    ::SetFocus(m_view->Window());
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::QueryFocus(HWND* phwnd)
{
    if (!phwnd) {
        return E_INVALIDARG;
    }
    *phwnd = GetFocus();
    if (*phwnd) {
        return S_OK;
    }
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : S_FALSE;
}

IFACEMETHODIMP CTorvPreview::TranslateAccelerator(MSG* pmsg)
{
    if (!pmsg) {
        return E_INVALIDARG;
    }
    if (m_view && PageView::UsesKey(*pmsg)) {
        return S_FALSE;
    }
    if (!m_site) {
        return S_FALSE;
    }
    // Asked afresh each time: the frame belongs to the site, which may change it.
    ComPtr<IPreviewHandlerFrame> frame;
    if (FAILED(m_site->QueryInterface(IID_IPreviewHandlerFrame, frame.put_void())) || !frame) {
        return S_FALSE;
    }
    return frame->TranslateAccelerator(pmsg);
}

IFACEMETHODIMP CTorvPreview::SetSite(IUnknown* punkSite)
{
    m_site.share(punkSite);
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::GetSite(REFIID riid, void** ppvSite)
{
    if (!ppvSite) {
        return E_POINTER;
    }
    *ppvSite = nullptr;
    return m_site ? m_site->QueryInterface(riid, ppvSite) : E_FAIL;
}

IFACEMETHODIMP CTorvPreview::GetWindow(HWND* phwnd)
{
    if (!phwnd) {
        return E_INVALIDARG;
    }
    *phwnd = m_parent;
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

IFACEMETHODIMP CTorvPreview::SetBackgroundColor(COLORREF color)
{
    m_style.background = color;
    StyleChanged();
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::SetFont(const LOGFONTW* plf)
{
    if (!plf) {
        return E_INVALIDARG;
    }
    m_style.font = *plf;
    m_style.hasFont = true;
    StyleChanged();
    return S_OK;
}

IFACEMETHODIMP CTorvPreview::SetTextColor(COLORREF color)
{
    m_style.text = color;
    StyleChanged();
    return S_OK;
}

HRESULT CTorvPreview::StartPreview() noexcept
{
    m_worker = RenderWorker::Create();
    if (!m_worker) {
        return E_OUTOFMEMORY;
    }
    // The view first, so that it has asked for its first page and named its window when the
    // worker starts.
    m_view = PageView::Create(m_parent, m_rect, *m_worker, m_style);
    if (!m_view) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        StopPreview();
        return FAILED(hr) ? hr : E_FAIL;
    }
    const HRESULT hr = m_stream ? m_worker->StartOnStream(m_stream.get()) : m_worker->StartOnFile(m_path);
    if (FAILED(hr)) {
        StopPreview();
    }
    return hr;
}

void CTorvPreview::StopPreview() noexcept
{
    // The view goes first, so that nothing is drawn or asked for while the worker stops.
    m_view.reset();
    m_worker.reset();
}

void CTorvPreview::StyleChanged() noexcept
{
    if (m_view) {
        m_view->SetStyle(m_style);
    }
}
