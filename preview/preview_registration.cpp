// Per-user self-registration of the preview handler: its class, its binding to .pdf documents and
// its entry in the Shell's list of preview handlers.
#include "preview/preview_module.h"
#include "shared/registry_write.h"

#include <string>

namespace {

const wchar_t kDisplayName[] = L"TorvView Preview Handler";
// Registered when the module cannot name its own file.
const wchar_t kFallbackModulePath[] = L"\\torvpreview.dll";
const wchar_t kHandlerBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
const wchar_t kPreviewHandlersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";
// The Shell's preview surrogate (prevhost.exe) of the DLL's own bitness loads it.
#ifdef _WIN64
const wchar_t kSurrogateAppId[] = L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}";
#else
const wchar_t kSurrogateAppId[] = L"{534A1E02-D58F-44f0-B58B-36CBED287C7C}";
#endif

void RegisterServer()
{
    const std::wstring modulePath = RegisteredModulePath(g_previewInstance, kFallbackModulePath);
    const std::wstring classKey = PreviewClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    SetSz(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, nullptr, kDisplayName);
    SetSz(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, L"AppID", kSurrogateAppId);
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, nullptr, modulePath.c_str());
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, L"ThreadingModel", L"Apartment");
    SetSz(HKEY_CURRENT_USER, kHandlerBindingKey, kSharedView, nullptr, kPreviewClsidString);
    SetSz(HKEY_CURRENT_USER, kPreviewHandlersKey, kSharedView, kPreviewClsidString, kDisplayName);
    NotifyAssociationsChanged();
}

void RemovePreviewHandlersEntry() noexcept
{
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kPreviewHandlersKey, 0, KEY_SET_VALUE | kSharedView, key.put())
        == ERROR_SUCCESS) {
        RegDeleteValueW(key.get(), kPreviewClsidString);
    }
}

void UnregisterServer()
{
    // The binding and the list entry serve both bitnesses: they go with the last registration.
    if (DeleteOwnClassKeys(PreviewClassKeyPath())) {
        RegDeleteKeyExW(HKEY_CURRENT_USER, kHandlerBindingKey, kSharedView, 0);
        RemovePreviewHandlersEntry();
    }
    NotifyAssociationsChanged();
}

}  // namespace

STDAPI DllRegisterServer()
{
    return RunRegistrationStep(RegisterServer);
}

STDAPI DllUnregisterServer()
{
    return RunRegistrationStep(UnregisterServer);
}
