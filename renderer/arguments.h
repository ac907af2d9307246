// The thumbnail mode's command line: --thumb <document> <size> <result file>.
#pragma once

#include <string>

struct ThumbArguments {
    std::wstring documentPath;
    std::wstring resultPath;
    int size = 0;  // the longer edge asked for, already capped at kMaxEdge
};

constexpr int kMaxEdge = 4096;

// Decimal digits only; values past the cap saturate at it. 0 means not a valid size.
int ParseSize(const wchar_t* text) noexcept;

// False for anything but exactly "--thumb", a document, a valid size and a result file.
bool ParseThumbArguments(int argc, wchar_t** argv, ThumbArguments& arguments);
