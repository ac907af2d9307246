// The handler's life in the host, one function per step.
#include "tools/host/handler_call.h"

#include "shared/com_ptr.h"
#include "tools/host/hresult_text.h"

#include <shobjidl.h>

namespace {

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// A registered path may also be a bare name that the loader searches for.
bool IsFullPath(const std::wstring& path) noexcept
{
    return path.find_first_of(L"\\/") != std::wstring::npos;
}

// The handler's DLL. Freed only when the DLL agrees: code that still has live objects must stay mapped.
class HandlerLibrary {
public:
    HandlerLibrary() noexcept = default;
    ~HandlerLibrary() { UnloadIfAllowed(); }
    HandlerLibrary(const HandlerLibrary&) = delete;
    HandlerLibrary& operator=(const HandlerLibrary&) = delete;

    HRESULT Load(const std::wstring& path) noexcept
    {
        // A full path also lets the DLL's own dependencies be found beside it.
        m_module = LoadLibraryExW(path.c_str(), nullptr, IsFullPath(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
        return m_module ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

    FARPROC Export(const char* name) const noexcept { return GetProcAddress(m_module, name); }

    // True when the DLL is no longer loaded; false when it stays because it reported live objects,
    // or, like COM assumes, because it has no DllCanUnloadNow to ask.
    bool UnloadIfAllowed() noexcept
    {
        if (!m_module) {
            return true;
        }
        const auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
            reinterpret_cast<void*>(Export("DllCanUnloadNow")));
        if (!canUnloadNow || canUnloadNow() != S_OK) {
            // Left mapped for the rest of the process, as COM does.
            m_module = nullptr;
            return false;
        }
        FreeLibrary(m_module);
        m_module = nullptr;
        return true;
    }

private:
    HMODULE m_module = nullptr;
};

bool FileExists(const std::wstring& path) noexcept
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

StepResult LoadHandlerLibrary(const ThumbnailHandler& handler, HandlerLibrary& library)
{
    if (IsFullPath(handler.dllPath) && !FileExists(handler.dllPath)) {
        return Failure(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
                       L"the handler DLL \"" + handler.dllPath + L"\" registered in " + handler.serverKey
                           + L" does not exist; register the handler again with regsvr32 from where its DLL is now");
    }
    const HRESULT hr = library.Load(handler.dllPath);
    if (FAILED(hr)) {
        return Failure(hr, L"the handler DLL \"" + handler.dllPath + L"\" does not load: " + SystemMessage(hr));
    }
    return StepResult{};
}

StepResult GetClassFactory(const ThumbnailHandler& handler, const HandlerLibrary& library,
                           ComPtr<IClassFactory>& factory)
{
    const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        reinterpret_cast<void*>(library.Export("DllGetClassObject")));
    if (!getClassObject) {
        return Failure(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND),
                       L"the handler DLL \"" + handler.dllPath
                           + L"\" is not a COM server: it has no DllGetClassObject");
    }
    const HRESULT hr = getClassObject(handler.clsid, __uuidof(IClassFactory), factory.put_void());
    if (hr == CLASS_E_CLASSNOTAVAILABLE) {
        return Failure(hr, L"the handler DLL \"" + handler.dllPath + L"\" does not provide the class "
                               + handler.clsidText + L" registered for \"" + handler.extension + L"\"");
    }
    if (FAILED(hr) || !factory) {
        return Failure(FAILED(hr) ? hr : E_UNEXPECTED,
                       L"the handler DLL \"" + handler.dllPath + L"\" gave no class object for " + handler.clsidText);
    }
    return StepResult{};
}

StepResult CreateProvider(const ThumbnailHandler& handler, const HandlerLibrary& library,
                          ComPtr<IInitializeWithFile>& provider)
{
    ComPtr<IClassFactory> factory;
    const StepResult got = GetClassFactory(handler, library, factory);
    if (!got.ok()) {
        return got;
    }
    // The factory is released as soon as it has made the object, as CoCreateInstance does.
    const HRESULT hr = factory->CreateInstance(nullptr, __uuidof(IInitializeWithFile), provider.put_void());
    if (hr == E_NOINTERFACE) {
        return Failure(hr, L"the handler " + handler.clsidText
                               + L" cannot be initialised with a file path (no IInitializeWithFile)");
    }
    if (FAILED(hr) || !provider) {
        return Failure(FAILED(hr) ? hr : E_UNEXPECTED, L"the handler " + handler.clsidText + L" could not be created");
    }
    return StepResult{};
}

StepResult InitializeProvider(IInitializeWithFile* provider, const std::wstring& documentPath)
{
    const HRESULT hr = provider->Initialize(documentPath.c_str(), STGM_READ);
    if (FAILED(hr)) {
        return Failure(hr, L"the handler refused the file in IInitializeWithFile::Initialize");
    }
    return StepResult{};
}

StepResult GetThumbnail(const ComPtr<IInitializeWithFile>& provider, UINT size, ThumbnailOutcome& outcome)
{
    ComPtr<IThumbnailProvider> thumbnails;
    HRESULT hr = provider.As(thumbnails);
    if (FAILED(hr)) {
        return Failure(hr, L"the handler is not a thumbnail provider (no IThumbnailProvider)");
    }
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alphaType = WTSAT_UNKNOWN;
    hr = thumbnails->GetThumbnail(size, &bitmap, &alphaType);
    outcome.bitmap.reset(bitmap);
    outcome.alphaType = alphaType;
    if (FAILED(hr)) {
        // A well-behaved handler returns nothing on failure; one that did must not leak it here.
        outcome.bitmap.reset();
        return Failure(hr, L"the thumbnail request failed: the handler made no thumbnail of this file");
    }
    if (!outcome.bitmap) {
        return Failure(E_UNEXPECTED, L"the handler reported success but returned no bitmap");
    }
    return StepResult{};
}

// Every interface lives in this function, so all are released before the DLL may be unloaded.
StepResult UseProvider(const ThumbnailHandler& handler, const HandlerLibrary& library,
                       const std::wstring& documentPath, UINT size, ThumbnailOutcome& outcome)
{
    ComPtr<IInitializeWithFile> provider;
    StepResult step = CreateProvider(handler, library, provider);
    if (!step.ok()) {
        return step;
    }
    step = InitializeProvider(provider.get(), documentPath);
    if (!step.ok()) {
        return step;
    }
    return GetThumbnail(provider, size, outcome);
}

}  // namespace

ThumbnailOutcome RequestThumbnail(const ThumbnailHandler& handler, const std::wstring& documentPath, UINT size)
{
    ThumbnailOutcome outcome;
    HandlerLibrary library;
    outcome.result = LoadHandlerLibrary(handler, library);
    if (!outcome.result.ok()) {
        return outcome;
    }
    outcome.result = UseProvider(handler, library, documentPath, size, outcome);
    outcome.leftLoaded = !library.UnloadIfAllowed();
    return outcome;
}
