// The host's command line.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Options {
    UINT size = 256;
    std::wstring outDir;     // empty: the current directory
    std::wstring sheetPath;  // empty: no contact sheet
    bool verbose = false;
    bool help = false;
    std::vector<std::wstring> files;
};

constexpr UINT kMaxThumbnailSize = 4096;

// False with a one-line reason in error for anything the host cannot run with.
bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error);

// The whole --help text.
const wchar_t* HelpText();
