// Parsing of the thumbnail mode's command line.
#include "renderer/thumb_arguments.h"

#include <cwchar>

int ParseSize(const wchar_t* text) noexcept
{
    if (*text == L'\0') {
        return 0;
    }
    long long value = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return 0;
        }
        value = value * 10 + (*p - L'0');
        if (value > kMaxEdge) {
            value = kMaxEdge + 1;
        }
    }
    return value > kMaxEdge ? kMaxEdge : static_cast<int>(value);
}

bool ParseThumbArguments(int argc, wchar_t** argv, ThumbArguments& arguments)
{
    if (argc != 5 || std::wcscmp(argv[1], L"--thumb") != 0) {
        return false;
    }
    const int size = ParseSize(argv[3]);
    if (size == 0 || *argv[2] == L'\0' || *argv[4] == L'\0') {
        return false;
    }
    arguments.documentPath = argv[2];
    arguments.size = size;
    arguments.resultPath = argv[4];
    return true;
}
