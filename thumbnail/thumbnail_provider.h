// The COM object the Shell asks for one document's thumbnail.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <string>

class CTorvThumb final : public IInitializeWithFile, public IThumbnailProvider {
public:
    // Starts with one reference, owned by the maker, an empty path and one unit of g_cDllRef.
    CTorvThumb() noexcept;

    // IUnknown, shared by both interfaces; the IInitializeWithFile base is the object's identity.
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // Keeps a copy of the path; a null path or a failed copy leaves the earlier path in force.
    IFACEMETHODIMP Initialize(LPCWSTR pszFilePath, DWORD grfMode) override;

    IFACEMETHODIMP GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) override;

private:
    ~CTorvThumb();

    LONG m_cRef;
    std::wstring m_path;
};
