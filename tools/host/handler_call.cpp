// The handler's life in the host, one function per step.
#include "tools/host/handler_call.h"

#include "shared/com_ptr.h"
#include "tools/host/handler_library.h"
#include "tools/host/hresult_text.h"

#include <shobjidl.h>

namespace {

StepResult CreateProvider(const ShellHandler& handler, const HandlerLibrary& library,
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
StepResult UseProvider(const ShellHandler& handler, const HandlerLibrary& library,
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

ThumbnailOutcome RequestThumbnail(const ShellHandler& handler, const std::wstring& documentPath, UINT size)
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
