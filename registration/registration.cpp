// Per-user self-registration: binds the provider to .pdf documents under HKCU\Software\Classes.
#include "module/torvthumb.h"
#include "module/unique_resource.h"

#include <shlobj.h>

#include <new>
#include <string>

namespace {

const wchar_t kDisplayName[] = L"TorvView Thumbnail Provider";
const wchar_t kModuleFileName[] = L"\\torvthumb.dll";
const wchar_t kHandlerBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

// Opens the key for writing, creating it and any missing parent; empty on failure.
UniqueHKey CreateKeyForWriting(HKEY root, const wchar_t* subkey) noexcept
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr)
        != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

// Stores text as REG_SZ with its terminator; a key that cannot be created leaves the value unwritten.
// Takes the text as a pointer so that no string is built between two writes: an allocation that
// fails must fail before the first write, not leave half a registration behind.
void SetSz(HKEY root, const wchar_t* subkey, const wchar_t* valueName, const wchar_t* data) noexcept
{
    const UniqueHKey key = CreateKeyForWriting(root, subkey);
    if (!key) {
        return;
    }
    const DWORD byteCount = static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t));
    RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), byteCount);
}

void SetDisableProcessIsolation(const wchar_t* classKey) noexcept
{
    const UniqueHKey key = CreateKeyForWriting(HKEY_CURRENT_USER, classKey);
    if (!key) {
        return;
    }
    const DWORD one = 1;
    RegSetValueExW(key.get(), L"DisableProcessIsolation", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof(one));
}

void NotifyAssociationsChanged() noexcept
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void RegisterServer()
{
    const std::wstring modulePath = DllDir() + kModuleFileName;
    const std::wstring classKey = ClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    SetSz(HKEY_CURRENT_USER, classKey.c_str(), nullptr, kDisplayName);
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), nullptr, modulePath.c_str());
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), L"ThreadingModel", L"Apartment");
    SetDisableProcessIsolation(classKey.c_str());
    SetSz(HKEY_CURRENT_USER, kHandlerBindingKey, nullptr, kClsidString);
    NotifyAssociationsChanged();
}

void UnregisterServer()
{
    const std::wstring classKey = ClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    // A missing key, or a class key that still has another subkey, is left as it is.
    RegDeleteKeyW(HKEY_CURRENT_USER, kHandlerBindingKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, inprocKey.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, classKey.c_str());
    NotifyAssociationsChanged();
}

}  // namespace

// Registry failures are not reported: a key that cannot be written only leaves its own values
// missing. Without memory for the key paths nothing further is attempted and E_OUTOFMEMORY is returned.
STDAPI DllRegisterServer()
{
    try {
        RegisterServer();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer()
{
    try {
        UnregisterServer();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
