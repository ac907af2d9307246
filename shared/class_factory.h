// The class object of an in-process server's one class: makes its objects and holds the server loaded.
#pragma once

#include <unknwn.h>

#include <new>

// Object must have a noexcept default constructor that gives it one reference, owned by the maker.
template <typename Object>
class ClassFactory final : public IClassFactory {
public:
    // Starts with one reference, owned by the maker, and one unit of moduleCount.
    explicit ClassFactory(LONG& moduleCount) noexcept : m_cRef(1), m_moduleCount(moduleCount)
    {
        InterlockedIncrement(&m_moduleCount);
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
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

    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    IFACEMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (pUnkOuter) {
            return CLASS_E_NOAGGREGATION;
        }
        Object* object = new (std::nothrow) Object();
        if (!object) {
            return E_OUTOFMEMORY;
        }
        // A failed query drops the only reference, so no object outlives a failed call.
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    IFACEMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock) {
            InterlockedIncrement(&m_moduleCount);
        } else {
            InterlockedDecrement(&m_moduleCount);
        }
        return S_OK;
    }

private:
    ~ClassFactory() { InterlockedDecrement(&m_moduleCount); }

    LONG m_cRef;
    LONG& m_moduleCount;
};

// DllGetClassObject for a server of one class: a new class object for that class, queried for riid.
template <typename Object>
HRESULT GetClassObject(const CLSID& served, LONG& moduleCount, REFCLSID rclsid, REFIID riid, void** ppv) noexcept
{
    if (!IsEqualCLSID(rclsid, served)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    ClassFactory<Object>* factory = new (std::nothrow) ClassFactory<Object>(moduleCount);
    if (!factory) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
