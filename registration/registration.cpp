// Per-user self-registration: binds the provider to .pdf documents under HKCU\Software\Classes.
#include "module/torvthumb.h"
#include "shared/registry_write.h"

#include <string>

namespace {

const wchar_t kDisplayName[] = L"TorvView Thumbnail Provider";
// Registered when the module cannot name its own file.
const wchar_t kFallbackModulePath[] = L"\\torvthumb.dll";
const wchar_t kHandlerBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

void SetDisableProcessIsolation(const wchar_t* classKey) noexcept
{
    const UniqueHKey key = CreateKeyForWriting(HKEY_CURRENT_USER, classKey, kOwnView);
    if (!key) {
        return;
    }
    const DWORD one = 1;
    RegSetValueExW(key.get(), L"DisableProcessIsolation", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof(one));
}

void RegisterServer()
{
    const std::wstring modulePath = RegisteredModulePath(g_hInst, kFallbackModulePath);
    const std::wstring classKey = ClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    SetSz(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, nullptr, kDisplayName);
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, nullptr, modulePath.c_str());
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, L"ThreadingModel", L"Apartment");
    SetDisableProcessIsolation(classKey.c_str());
    SetSz(HKEY_CURRENT_USER, kHandlerBindingKey, kSharedView, nullptr, kClsidString);
    NotifyAssociationsChanged();
}

void UnregisterServer()
{
    // The binding serves both bitnesses: it goes with the last registration.
    if (DeleteOwnClassKeys(ClassKeyPath())) {
        RegDeleteKeyExW(HKEY_CURRENT_USER, kHandlerBindingKey, kSharedView, 0);
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
