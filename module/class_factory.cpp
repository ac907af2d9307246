// Class factory for the thumbnail provider.
#include "module/class_factory.h"

#include "module/torvthumb.h"
#include "thumbnail/thumbnail_provider.h"

#include <new>

CTorvThumbFactory::CTorvThumbFactory() noexcept : m_cRef(1)
{
    InterlockedIncrement(&g_cDllRef);
}

CTorvThumbFactory::~CTorvThumbFactory()
{
    InterlockedDecrement(&g_cDllRef);
}

IFACEMETHODIMP CTorvThumbFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        InterlockedIncrement(&m_cRef);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) CTorvThumbFactory::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

IFACEMETHODIMP_(ULONG) CTorvThumbFactory::Release()
{
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

IFACEMETHODIMP CTorvThumbFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (pUnkOuter) {
        return CLASS_E_NOAGGREGATION;
    }
    CTorvThumb* provider = new (std::nothrow) CTorvThumb();
    if (!provider) {
        return E_OUTOFMEMORY;
    }
    // A failed query drops the only reference, so no object outlives a failed call.
    const HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
}

IFACEMETHODIMP CTorvThumbFactory::LockServer(BOOL fLock)
{
    if (fLock) {
        InterlockedIncrement(&g_cDllRef);
    } else {
        InterlockedDecrement(&g_cDllRef);
    }
    return S_OK;
}
