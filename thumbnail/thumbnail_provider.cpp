// Thumbnail provider object: interface plumbing around the thumbnail request.
#include "thumbnail/thumbnail_provider.h"

#include "module/torvthumb.h"
#include "thumbnail/thumbnail_request.h"

#include <new>

CTorvThumb::CTorvThumb() noexcept : m_cRef(1)
{
    InterlockedIncrement(&g_cDllRef);
}

CTorvThumb::~CTorvThumb()
{
    InterlockedDecrement(&g_cDllRef);
}

IFACEMETHODIMP CTorvThumb::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IInitializeWithFile)) {
        *ppv = static_cast<IInitializeWithFile*>(this);
    } else if (IsEqualIID(riid, IID_IThumbnailProvider)) {
        *ppv = static_cast<IThumbnailProvider*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    InterlockedIncrement(&m_cRef);
    return S_OK;
}

IFACEMETHODIMP_(ULONG) CTorvThumb::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

IFACEMETHODIMP_(ULONG) CTorvThumb::Release()
{
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

IFACEMETHODIMP CTorvThumb::Initialize(LPCWSTR pszFilePath, DWORD)
{
    if (!pszFilePath) {
        return E_INVALIDARG;
    }
    try {
        // Assigning a fresh copy keeps the old path if the allocation fails.
        std::wstring path(pszFilePath);
        m_path.swap(path);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

IFACEMETHODIMP CTorvThumb::GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha)
{
    return RunThumbnailRequest(m_path, cx, phbmp, pdwAlpha);
}
