// Registry steps of the DLLs' self-registration.
#include "shared/registry_write.h"

#include "shared/module_file.h"

#include <shlobj.h>

#include <new>

UniqueHKey CreateKeyForWriting(HKEY root, const wchar_t* subkey, REGSAM view) noexcept
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr, &key, nullptr)
        != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

void SetSz(HKEY root, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const wchar_t* data) noexcept
{
    const UniqueHKey key = CreateKeyForWriting(root, subkey, view);
    if (!key) {
        return;
    }
    const DWORD byteCount = static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t));
    RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), byteCount);
}

bool UserKeyExists(const wchar_t* subkey, REGSAM view) noexcept
{
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_QUERY_VALUE | view, key.put()) == ERROR_SUCCESS;
}

void NotifyAssociationsChanged() noexcept
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

std::wstring RegisteredModulePath(HMODULE module, const wchar_t* fallback)
{
    std::wstring path = ModuleFileName(module);
    if (path.find_last_of(L"\\/") == std::wstring::npos) {
        return fallback;
    }
    return path;
}

bool DeleteOwnClassKeys(const std::wstring& classKey)
{
    const std::wstring inprocKey = classKey + L"\\InprocServer32";
    RegDeleteKeyExW(HKEY_CURRENT_USER, inprocKey.c_str(), kOwnView, 0);
    RegDeleteKeyExW(HKEY_CURRENT_USER, classKey.c_str(), kOwnView, 0);
    return !UserKeyExists(inprocKey.c_str(), kOtherView);
}

HRESULT RunRegistrationStep(void (*step)()) noexcept
{
    try {
        step();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
