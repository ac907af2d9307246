// Per-user self-registration: binds the provider to .pdf documents under HKCU\Software\Classes.
#include "module/torvthumb.h"
#include "module/unique_resource.h"

#include <shlobj.h>

#include <new>
#include <string>

namespace {

const wchar_t kDisplayName[] = L"TorvView Thumbnail Provider";
// Registered when the module cannot name its own file.
const wchar_t kFallbackModulePath[] = L"\\torvthumb.dll";
const wchar_t kHandlerBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

// Each bitness keeps its class key in its own registry view (on 64-bit Windows a 32-bit process's
// HKCU\Software\Classes\CLSID is Software\Classes\Wow6432Node\CLSID), while both share the .pdf
// binding. The binding is addressed in the 64-bit view: on Windows that is the same shared key, and
// Wine, which gives 32-bit processes their own copy of everything below a key that has a
// Wow6432Node subkey, .pdf included, then also keeps one binding. 32-bit Windows ignores the flags.
const REGSAM kOwnView = 0;
const REGSAM kBindingView = KEY_WOW64_64KEY;
#ifdef _WIN64
const REGSAM kOtherView = KEY_WOW64_32KEY;
#else
const REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// Opens the key for writing, creating it and any missing parent; empty on failure.
UniqueHKey CreateKeyForWriting(HKEY root, const wchar_t* subkey, REGSAM view) noexcept
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr, &key, nullptr)
        != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

// Stores text as REG_SZ with its terminator; a key that cannot be created leaves the value unwritten.
// Takes the text as a pointer so that no string is built between two writes: an allocation that
// fails must fail before the first write, not leave half a registration behind.
void SetSz(HKEY root, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const wchar_t* data) noexcept
{
    const UniqueHKey key = CreateKeyForWriting(root, subkey, view);
    if (!key) {
        return;
    }
    const DWORD byteCount = static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t));
    RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), byteCount);
}

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

void NotifyAssociationsChanged() noexcept
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

// The module's own file, so that a copy under another name (torvthumb32.dll beside torvthumb.dll)
// registers itself and not its sibling.
std::wstring ModulePath()
{
    std::wstring path = ModuleFileName(g_hInst);
    if (path.find_last_of(L"\\/") == std::wstring::npos) {
        return kFallbackModulePath;
    }
    return path;
}

// Whether the other bitness has our class registered in its view of the per-user classes.
bool OtherViewHasServer(const wchar_t* inprocKey) noexcept
{
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, inprocKey, 0, KEY_QUERY_VALUE | kOtherView, key.put()) == ERROR_SUCCESS;
}

void RegisterServer()
{
    const std::wstring modulePath = ModulePath();
    const std::wstring classKey = ClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    SetSz(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, nullptr, kDisplayName);
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, nullptr, modulePath.c_str());
    SetSz(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, L"ThreadingModel", L"Apartment");
    SetDisableProcessIsolation(classKey.c_str());
    SetSz(HKEY_CURRENT_USER, kHandlerBindingKey, kBindingView, nullptr, kClsidString);
    NotifyAssociationsChanged();
}

void UnregisterServer()
{
    const std::wstring classKey = ClassKeyPath();
    const std::wstring inprocKey = classKey + L"\\InprocServer32";

    // A missing key, or a class key that still has another subkey, is left as it is.
    RegDeleteKeyExW(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, 0);
    RegDeleteKeyExW(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, 0);
    // The binding serves both bitnesses: it goes with the last registration.
    if (!OtherViewHasServer(inprocKey.c_str())) {
        RegDeleteKeyExW(HKEY_CURRENT_USER, kHandlerBindingKey, kBindingView, 0);
    }
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
