// Stands in for the native regsvr32 in the test's installer that takes ARM64 as the native machine
// (x64 Wine runs no ARM64 code): appends its arguments, one call a line, to regsvr32-calls.txt beside
// itself, and succeeds.
#include "module/unique_resource.h"

#include <windows.h>

#include <string>

namespace {

// The command line without the program's own name, as regsvr32 would take its arguments.
std::wstring Arguments()
{
    const std::wstring line = GetCommandLineW();
    size_t end = line[0] == L'"' ? line.find(L'"', 1) + 1 : line.find(L' ');
    if (end == std::wstring::npos || end > line.size()) {
        return std::wstring();
    }
    end = line.find_first_not_of(L' ', end);
    return end == std::wstring::npos ? std::wstring() : line.substr(end);
}

std::wstring CallsFile()
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"regsvr32-calls.txt";
}

}  // namespace

int wmain()
{
    const std::wstring call = Arguments() + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, call.c_str(), static_cast<int>(call.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, call.c_str(), static_cast<int>(call.size()), &text[0], bytes, nullptr, nullptr);
    const UniqueFile file(CreateFileW(CallsFile().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
        || written != text.size()) {
        return 1;
    }
    return 0;
}
