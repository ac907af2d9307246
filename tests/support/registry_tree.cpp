// The per-user registry as the registration tests compare it.
#include "support/registry_tree.h"

namespace testing_support {

std::ostream& operator<<(std::ostream& os, const Value& value)
{
    os << "type " << value.type << ", " << value.bytes.size() << " bytes";
    return os;
}

void DumpTree(HKEY root, const std::wstring& path, Tree& tree, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return;
    }
    if (!path.empty()) {
        tree[path + L"|<key>"] = Value{0, {}};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof(data);
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        tree[path + L"|" + (nameLength ? name : L"<default>")] = Value{type, std::vector<uint8_t>(data, data + size)};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        DumpTree(root, path.empty() ? name : path + L"\\" + name, tree, view);
    }
    RegCloseKey(key);
}

Tree DumpKey(const std::wstring& path, REGSAM view)
{
    Tree tree;
    DumpTree(HKEY_CURRENT_USER, path, tree, view);
    return tree;
}

Tree DumpHkcu(REGSAM view)
{
    return DumpKey(L"", view);
}

Value Sz(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
    return Value{REG_SZ, std::vector<uint8_t>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

void CreateKey(const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr);
    RegCloseKey(key);
}

DWORD RunAndWait(const std::wstring& commandLine)
{
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return GetLastError() | 0x80000000u;
    }
    WaitForSingleObject(info.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return exitCode;
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

}  // namespace testing_support
