// Loading a handler's DLL as COM does, and getting its class object.
#include "tools/host/handler_library.h"

#include "tools/host/hresult_text.h"

namespace {

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// A registered path may also be a bare name that the loader searches for.
bool IsFullPath(const std::wstring& path) noexcept
{
    return path.find_first_of(L"\\/") != std::wstring::npos;
}

bool FileExists(const std::wstring& path) noexcept
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

HRESULT HandlerLibrary::Load(const std::wstring& path) noexcept
{
    // A full path also lets the DLL's own dependencies be found beside it.
    m_module = LoadLibraryExW(path.c_str(), nullptr, IsFullPath(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    return m_module ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

bool HandlerLibrary::UnloadIfAllowed() noexcept
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

StepResult LoadHandlerLibrary(const ShellHandler& handler, HandlerLibrary& library)
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

StepResult GetClassFactory(const ShellHandler& handler, const HandlerLibrary& library,
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
