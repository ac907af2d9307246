// Helpers for the tests of the tools: starting them as real processes, files, and PNG decoding.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tool_testing {

// build/bin, where the DLL, the host and the renderer TorvView.exe are built.
std::wstring BinDir();
std::wstring HostPath();
std::wstring ViewerPath();
// The project's sample documents, copied beside the tests when the build is configured.
std::wstring SamplesDir();
// The renderer's test documents, written beside the tests at build time (tests/documents/).
std::wstring DocumentsDir();

// The renderer's thumbnail mode: --thumb "<document>" <size> "<result file>".
std::wstring ThumbArguments(const std::wstring& document, const std::wstring& size, const std::wstring& result);

// What a renderer's result file holds.
struct RendererResult {
    int32_t width = 0;
    int32_t height = 0;
    bool complete = false;  // exactly a header and width x height pixels
    bool opaque = false;    // every fourth byte 255
    std::vector<BYTE> pixels;  // the bytes after the header
};
RendererResult ReadRendererResult(const std::wstring& path);

// The registry view of the file extensions' thumbnail bindings under HKCU\Software\Classes. On
// 64-bit Windows both bitnesses share them and only CLSID has a 32-bit view of its own; Wine gives
// a 32-bit process its own copy of everything there, so bindings go through the 64-bit view, which
// on Windows is the shared key, as the libraries and the host address them.
constexpr REGSAM kBindingView = KEY_WOW64_64KEY;

// Stores REG_SZ text (nullptr names the default value) under HKCU\Software\Classes\<subkey> in the
// given view, the process's own by default, creating the key; false when it cannot be created.
bool SetClassesText(const std::wstring& subkey, const wchar_t* name, const std::wstring& text, REGSAM view = 0);
// The text of such a value; empty when the key or value is missing, or holds MAX_PATH characters or
// more.
std::wstring ClassesText(const std::wstring& subkey, const wchar_t* name, REGSAM view = 0);
// Deletes HKCU\Software\Classes\<subkey> with everything below it, in the given view.
void DeleteClassesTree(const std::wstring& subkey, REGSAM view = 0);

// "\"text\"": every path the tests pass may hold spaces.
std::wstring Quote(const std::wstring& text);

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;  // also what a program that did not finish in time reports
    std::string out;              // standard output, bytes as written
    std::string err;              // standard error
};

// Runs a command line with its output captured through files, waiting at most 60 seconds.
// The child inherits this process's environment, TMP and TEMP included.
ProcessResult Run(const std::wstring& commandLine, const std::wstring& workingDir = std::wstring());

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// -1 when the file cannot be opened.
long long FileSize(const std::wstring& path);
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
// Names of the entries of a directory, without "." and "..".
std::vector<std::wstring> ListDirectory(const std::wstring& directory);
void DeleteTree(const std::wstring& path);

// The line of the output that starts with prefix, without its newline; empty if none does.
std::string LineStartingWith(const std::string& output, const std::string& prefix);

std::string Narrow(const std::wstring& text);

struct DecodedImage {
    HRESULT hr = E_FAIL;
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> bgra;  // 32bppBGRA, rows top to bottom

    // Blue, green, red, alpha packed as 0xAARRGGBB.
    DWORD Pixel(UINT x, UINT y) const;
};

// Decodes an image file with WIC, converted to 32bppBGRA.
DecodedImage DecodeImage(const std::wstring& path);

}  // namespace tool_testing
