// Registry look-up of Shell handlers: extension binding, then the class's in-process server.
#include "tools/host/handler_registry.h"

#include "shared/unique_resource.h"

#include <objbase.h>


const HandlerKind kThumbnailHandlerKind = {L"{e357fccd-a995-4576-b01f-234630154e96}", L"thumbnail handler",
                                           L"torvthumb.dll"};
const HandlerKind kPreviewHandlerKind = {L"{8895b1c6-b41f-4c1c-a562-0d564250836f}", L"preview handler",
                                         L"torvpreview.dll"};

namespace {

struct ClassesRoot {
    HKEY key;
    const wchar_t* name;
};

// Per-user entries hide machine-wide ones, as in the Shell's merged HKEY_CLASSES_ROOT.
const ClassesRoot kClassesRoots[] = {
    {HKEY_CURRENT_USER, L"HKCU"},
    {HKEY_LOCAL_MACHINE, L"HKLM"},
};

const wchar_t kClassesKey[] = L"Software\\Classes\\";

// On 64-bit Windows a 32-bit process sees the classes' CLSID key through its own registry view,
// while the file extensions' keys are shared by both views. The extension's binding is read in the
// 64-bit view, which is that shared key (Wine would otherwise show a 32-bit host a copy of its own
// below Software\Classes\Wow6432Node); the class in the host's own view, as its bitness needs.
const REGSAM kSharedView = KEY_WOW64_64KEY;
const REGSAM kOwnView = 0;

// A string value, REG_EXPAND_SZ expanded; false when the key or value is missing or not text.
bool ReadText(HKEY root, const std::wstring& subkey, REGSAM view, const wchar_t* valueName, std::wstring& text)
{
    UniqueHKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    // REG_EXPAND_SZ comes back expanded as REG_SZ; asking for it by name would be refused.
    const DWORD flags = RRF_RT_REG_SZ;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD byteCount = 0;
        if (RegGetValueW(key.get(), nullptr, valueName, flags, nullptr, nullptr, &byteCount) != ERROR_SUCCESS) {
            return false;
        }
        std::wstring buffer(byteCount / sizeof(wchar_t) + 1, L'\0');
        DWORD readCount = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LSTATUS status = RegGetValueW(key.get(), nullptr, valueName, flags, nullptr, &buffer[0], &readCount);
        // The value may have grown in between: ask for its size again.
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return false;
        }
        buffer.resize(buffer.find(L'\0'));
        text.swap(buffer);
        return true;
    }
    return false;
}

// The first root holding the value, or null.
const ClassesRoot* ReadFromClasses(const std::wstring& subkey, REGSAM view, const wchar_t* valueName,
                                   std::wstring& text)
{
    for (const ClassesRoot& root : kClassesRoots) {
        if (ReadText(root.key, kClassesKey + subkey, view, valueName, text)) {
            return &root;
        }
    }
    return nullptr;
}

std::wstring KeyName(const ClassesRoot& root, const std::wstring& subkey)
{
    return std::wstring(root.name) + L"\\" + kClassesKey + subkey;
}

StepResult FindBinding(const HandlerKind& kind, ShellHandler& handler)
{
    const std::wstring noun = kind.noun;
    const std::wstring bindingSubkey = handler.extension + L"\\ShellEx\\" + kind.binding;
    const ClassesRoot* root = ReadFromClasses(bindingSubkey, kSharedView, nullptr, handler.clsidText);
    if (!root) {
        return Failure(HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION),
                       L"no " + noun + L" is registered for \"" + handler.extension + L"\" files (no "
                           + kClassesKey + bindingSubkey
                           + L" under HKCU or HKLM); register one with regsvr32, e.g. \"regsvr32 " + kind.library
                           + L"\" for PDF documents");
    }
    handler.bindingKey = KeyName(*root, bindingSubkey);
    if (CLSIDFromString(handler.clsidText.c_str(), &handler.clsid) != NOERROR) {
        return Failure(CO_E_CLASSSTRING, L"the " + noun + L" binding " + handler.bindingKey + L" holds \""
                                             + handler.clsidText + L"\", which is not a class identifier");
    }
    return StepResult{};
}

StepResult FindServer(const HandlerKind& kind, ShellHandler& handler)
{
    const std::wstring serverSubkey = L"CLSID\\" + handler.clsidText + L"\\InprocServer32";
    const ClassesRoot* root = ReadFromClasses(serverSubkey, kOwnView, nullptr, handler.dllPath);
    if (!root || handler.dllPath.empty()) {
        return Failure(REGDB_E_CLASSNOTREG,
                       L"the " + std::wstring(kind.noun) + L" class " + handler.clsidText + L" registered for \""
                           + handler.extension + L"\" has no DLL: " + kClassesKey + serverSubkey
                           + L" is missing under HKCU and HKLM; register its DLL again with regsvr32");
    }
    handler.serverKey = KeyName(*root, serverSubkey);
    // The model belongs to the key that named the DLL, not to whichever root has one.
    if (!ReadText(root->key, kClassesKey + serverSubkey, kOwnView, L"ThreadingModel", handler.threadingModel)) {
        handler.threadingModel.clear();
    }
    return StepResult{};
}

}  // namespace

std::wstring FileExtension(const std::wstring& path)
{
    const size_t nameStart = path.find_last_of(L"\\/:");
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (nameStart != std::wstring::npos && dot < nameStart)) {
        return std::wstring();
    }
    return path.substr(dot);
}

StepResult FindHandler(const std::wstring& extension, const HandlerKind& kind, ShellHandler& handler)
{
    handler = ShellHandler{};
    handler.extension = extension;
    if (extension.size() < 2) {
        return Failure(HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION), L"the file name has no extension, so no "
                                                                     + std::wstring(kind.noun)
                                                                     + L" can be registered for it");
    }
    const StepResult binding = FindBinding(kind, handler);
    if (!binding.ok()) {
        return binding;
    }
    return FindServer(kind, handler);
}
