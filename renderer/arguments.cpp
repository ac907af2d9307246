// Parsing of the renderer's command lines.
#include "renderer/arguments.h"

#include "renderer/page_list.h"

#include <cwchar>

long long ParseDecimal(const wchar_t* text, long long limit) noexcept
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
        if (value > limit) {
            value = limit + 1;
        }
    }
    return value;
}

int ParseSize(const wchar_t* text) noexcept
{
    const long long value = ParseDecimal(text, kMaxEdge);
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

bool ParsePageArguments(int argc, wchar_t** argv, PageArguments& arguments)
{
    if (argc != 7 || std::wcscmp(argv[1], L"--page") != 0) {
        return false;
    }
    const long long pageNumber = ParseDecimal(argv[3], kMaxPreviewPages);
    const long long width = ParseDecimal(argv[4], kMaxPageWidth);
    if (pageNumber == 0 || width == 0 || width > kMaxPageWidth || *argv[2] == L'\0' || *argv[5] == L'\0'
        || *argv[6] == L'\0') {
        return false;
    }
    arguments.documentPath = argv[2];
    arguments.pageNumber = pageNumber;
    arguments.width = static_cast<int>(width);
    arguments.resultPath = argv[5];
    arguments.pageListPath = argv[6];
    return true;
}
