// A thumbnail handler for testing the host: it does what the first word of its document says, so
// one DLL covers every alpha type and the ways a handler can misbehave.
//   argb, rgb, unknown-alpha, unknown-zero: a 4x2 bitmap of 0x20 0x40 0xFF (blue, green, red) with
//       alpha 0x80 (0 for unknown-zero), returned with that alpha type;
//   fail: WTS_E_FAILEDEXTRACTION;  null-bitmap: S_OK without a bitmap;
//   leak: a thumbnail, but one reference is never given back, so the DLL cannot be unloaded.
// Its second class cannot be initialised with a file path.
#include <windows.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <cstring>
#include <new>

namespace {

LONG g_objects = 0;

// {0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D10}
const CLSID kFakeHandler = {0x0d6b2e51, 0x7c1a, 0x4c55, {0x9e, 0x0a, 0x5a, 0x3f, 0x1b, 0x7c, 0x9d, 0x10}};
// {0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D11}
const CLSID kNoFileInit = {0x0d6b2e51, 0x7c1a, 0x4c55, {0x9e, 0x0a, 0x5a, 0x3f, 0x1b, 0x7c, 0x9d, 0x11}};

// Reference counting shared by both classes; every live object keeps the DLL loaded.
template <typename Derived>
class Counted {
protected:
    Counted() { InterlockedIncrement(&g_objects); }
    ~Counted() { InterlockedDecrement(&g_objects); }

    ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG ReleaseReference()
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            delete static_cast<Derived*>(this);
        }
        return static_cast<ULONG>(refs);
    }

private:
    LONG m_refs = 1;
};

class Provider final : public IInitializeWithFile, public IThumbnailProvider, private Counted<Provider> {
public:

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(IInitializeWithFile))) {
            *ppv = static_cast<IInitializeWithFile*>(this);
        } else if (IsEqualIID(riid, __uuidof(IThumbnailProvider))) {
            *ppv = static_cast<IThumbnailProvider*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }

    IFACEMETHODIMP Initialize(LPCWSTR path, DWORD) override
    {
        const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        DWORD read = 0;
        ReadFile(file, m_command, sizeof(m_command) - 1, &read, nullptr);
        CloseHandle(file);
        m_command[read] = '\0';
        return S_OK;
    }

    IFACEMETHODIMP GetThumbnail(UINT, HBITMAP* bitmap, WTS_ALPHATYPE* alphaType) override
    {
        *bitmap = nullptr;
        *alphaType = WTSAT_UNKNOWN;
        if (Is("fail")) {
            return WTS_E_FAILEDEXTRACTION;
        }
        if (Is("null-bitmap")) {
            return S_OK;
        }
        if (Is("leak")) {
            AddRef();
        }
        *alphaType = Is("argb") ? WTSAT_ARGB : Is("rgb") || Is("leak") ? WTSAT_RGB : WTSAT_UNKNOWN;
        *bitmap = MakeBitmap(Is("unknown-zero") ? 0x00 : 0x80);
        return *bitmap ? S_OK : E_OUTOFMEMORY;
    }

private:
    friend class Counted<Provider>;
    ~Provider() = default;

    bool Is(const char* word) const { return std::strncmp(m_command, word, std::strlen(word)) == 0; }

    static HBITMAP MakeBitmap(BYTE alpha)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = 4;
        info.bmiHeader.biHeight = -2;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap) {
            BYTE* pixel = static_cast<BYTE*>(bits);
            for (int i = 0; i < 8; ++i, pixel += 4) {
                pixel[0] = 0x20;
                pixel[1] = 0x40;
                pixel[2] = 0xFF;
                pixel[3] = alpha;
            }
        }
        return bitmap;
    }

    char m_command[32] = {};
};

class Factory final : public IClassFactory, private Counted<Factory> {
public:
    explicit Factory(bool fileInit) : m_fileInit(fileInit) {}

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }

    IFACEMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!m_fileInit && IsEqualIID(riid, __uuidof(IInitializeWithFile))) {
            return E_NOINTERFACE;
        }
        Provider* provider = new (std::nothrow) Provider();
        if (!provider) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = provider->QueryInterface(riid, ppv);
        provider->Release();
        return hr;
    }
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    friend class Counted<Factory>;
    ~Factory() = default;

    bool m_fileInit;
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    *ppv = nullptr;
    const bool fileInit = IsEqualCLSID(clsid, kFakeHandler);
    if (!fileInit && !IsEqualCLSID(clsid, kNoFileInit)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    Factory* factory = new (std::nothrow) Factory(fileInit);
    if (!factory) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_objects == 0 ? S_OK : S_FALSE;
}
