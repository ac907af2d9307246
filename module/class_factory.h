// The class object of CLSID_TorvThumb: makes thumbnail providers and holds the server loaded.
#pragma once

#include <unknwn.h>

class CTorvThumbFactory final : public IClassFactory {
public:
    // Starts with one reference, owned by the maker, and one unit of g_cDllRef.
    CTorvThumbFactory() noexcept;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    IFACEMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL fLock) override;

private:
    ~CTorvThumbFactory();

    LONG m_cRef;
};
