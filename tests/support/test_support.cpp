// Helpers shared by the test programs.
#include "support/test_support.h"

#include "shared/module_file.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <atomic>

namespace testing_support {

namespace {

std::wstring g_tempDir;

void DeleteDirectoryTree(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteDirectoryTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(directory.c_str());
}

void WriteBinaryFile(const std::wstring& path, const void* data, size_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

std::wstring TestDir()
{
    std::wstring path = ModuleFileName(nullptr);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring RendererPath()
{
    return TestDir() + L"\\testrender.exe";
}

std::wstring TempDir()
{
    return g_tempDir;
}

void CreatePrivateTempDir()
{
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    g_tempDir = std::wstring(base) + L"torvtest-" + std::to_wstring(GetCurrentProcessId());
    DeleteDirectoryTree(g_tempDir);
    CreateDirectoryW(g_tempDir.c_str(), nullptr);
    CreateDirectoryW((g_tempDir + L"\\docs").c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", g_tempDir.c_str());
    SetEnvironmentVariableW(L"TEMP", g_tempDir.c_str());
}

void RemovePrivateTempDir()
{
    DeleteDirectoryTree(g_tempDir);
}

std::vector<std::wstring> FilesMatching(const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(entry.cFileName);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return names;
}

std::vector<std::wstring> ResultFilesLeft()
{
    return FilesMatching(g_tempDir + L"\\tvt*.tmp");
}

std::wstring WriteDocument(const std::wstring& name, const std::string& script)
{
    const std::wstring path = g_tempDir + L"\\docs\\" + name;
    WriteBinaryFile(path, script.data(), script.size());
    return path;
}

std::vector<uint8_t> ReadBinaryFile(const std::wstring& path)
{
    std::vector<uint8_t> content;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    content.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!content.empty()) {
        ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    }
    content.resize(read);
    CloseHandle(file);
    return content;
}

ScratchHkcu::ScratchHkcu()
{
    static std::atomic<int> counter{0};
    m_path = L"Software\\TorvThumbTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    &m_key, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, m_key);
}

ScratchHkcu::~ScratchHkcu()
{
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(m_key);
    RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
}

void SetRenderCommandRaw(DWORD type, const void* data, DWORD byteCount)
{
    // The registry adds a missing terminator when the next character in memory is 0, so the
    // bytes are stored from a copy followed by non-zero padding.
    std::vector<uint8_t> buffer(byteCount + 4, 0xAB);
    if (byteCount > 0) {
        memcpy(buffer.data(), data, byteCount);
    }
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, RenderCommandClassKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                    &key, nullptr);
    RegSetValueExW(key, L"RenderCommand", 0, type, buffer.data(), byteCount);
    RegCloseKey(key);
}

void SetRenderCommand(const std::wstring& text)
{
    SetRenderCommandRaw(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void RemoveRenderCommand()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RenderCommandClassKey().c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"RenderCommand");
        RegCloseKey(key);
    }
}

void UseTestRenderer()
{
    SetRenderCommand(L"\"" + RendererPath() + L"\" --thumb \"%1\" %2 \"%3\"");
}

RecordRendererStart::RecordRendererStart() : m_path(g_tempDir + L"\\renderer-start.txt")
{
    DeleteFileW(m_path.c_str());
    SetEnvironmentVariableW(L"TORV_TEST_RECORD", m_path.c_str());
}

RecordRendererStart::~RecordRendererStart()
{
    SetEnvironmentVariableW(L"TORV_TEST_RECORD", nullptr);
    DeleteFileW(m_path.c_str());
}

bool RecordRendererStart::Read(RendererStart& start) const
{
    const std::vector<uint8_t> bytes = ReadBinaryFile(m_path);
    if (bytes.empty()) {
        return false;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const size_t newline = text.find(L'\n');
    if (newline == std::wstring::npos) {
        return false;
    }
    const std::wstring flags = text.substr(0, newline);
    unsigned long long stdOutput = 0;
    if (swscanf(flags.c_str(), L"%lu %lu %llu", &start.flags, &start.showWindow, &stdOutput) != 3) {
        return false;
    }
    start.stdOutput = static_cast<uintptr_t>(stdOutput);
    start.commandLine = text.substr(newline + 1);
    return true;
}

int LiveChildren()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        count += entry.th32ParentProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

size_t CountProcessHandles()
{
    // SystemHandleInformation (16) lists every handle of every process.
    struct HandleEntry {
        USHORT processId;
        USHORT creatorBackTraceIndex;
        UCHAR objectTypeIndex;
        UCHAR handleAttributes;
        USHORT handleValue;
        PVOID object;
        ULONG grantedAccess;
    };
    struct HandleList {
        ULONG count;
        HandleEntry entries[1];
    };
    std::vector<uint8_t> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed))
           == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return 0;
    }
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    size_t count = 0;
    for (ULONG i = 0; i < list->count; ++i) {
        count += list->entries[i].processId == self;
    }
    return count;
}

}  // namespace testing_support
