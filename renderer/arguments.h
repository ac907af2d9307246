// Parsing of the renderer's command lines:
//   --thumb <document> <size> <result file>
//   --page <document> <page> <width> <result file> <page list file>
#pragma once

#include <string>

struct ThumbArguments {
    std::wstring documentPath;
    std::wstring resultPath;
    int size = 0;  // the longer edge asked for, already capped at kMaxEdge
};

struct PageArguments {
    std::wstring documentPath;
    std::wstring resultPath;
    std::wstring pageListPath;
    long long pageNumber = 0;  // 1-based; past kMaxPreviewPages it is kMaxPreviewPages + 1, beyond any list
    int width = 0;             // 1 to kMaxPageWidth
};

constexpr int kMaxEdge = 4096;

// Decimal digits only, at least one; values past limit saturate at limit + 1. 0 means not a number.
long long ParseDecimal(const wchar_t* text, long long limit) noexcept;

// Decimal digits only; values past the cap saturate at it. 0 means not a valid size.
int ParseSize(const wchar_t* text) noexcept;

// False for anything but exactly "--thumb", a document, a valid size and a result file.
bool ParseThumbArguments(int argc, wchar_t** argv, ThumbArguments& arguments);

// False for anything but exactly "--page", a document, a page from 1, a width from 1 to
// kMaxPageWidth, a result file and a page list file.
bool ParsePageArguments(int argc, wchar_t** argv, PageArguments& arguments);
