// Output and file names for the hosts.
#include "tools/host/host_support.h"

#include <fcntl.h>
#include <io.h>

#include <new>

void Print(FILE* stream, const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) {
        return;
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

std::wstring FileName(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool TakeValue(int argc, wchar_t** argv, int& i, std::wstring& value, std::wstring& error)
{
    if (i + 1 >= argc) {
        error = std::wstring(argv[i]) + L" needs a value";
        return false;
    }
    value = argv[++i];
    return true;
}

int HostMain(const char* name, int (*run)(int, wchar_t**), int argc, wchar_t** argv, int failureCode)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", name);
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", name);
    }
    return failureCode;
}
