// Shared helpers for the test programs: paths, registry isolation, documents for the test
// renderer, and resource counting.
#pragma once

#include "support/private_bytes.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Directory of the running test program; the default render command looks for TorvView.exe here.
std::wstring TestDir();

// The test renderer built beside the tests.
std::wstring RendererPath();

// This process's own temporary directory (TMP and TEMP point at it), so that result files left
// behind can be counted without interference from tests running in parallel.
std::wstring TempDir();
void CreatePrivateTempDir();
void RemovePrivateTempDir();

// The names of the files that match a FindFirstFile pattern (a folder and a name with wildcards).
std::vector<std::wstring> FilesMatching(const std::wstring& pattern);

// Names of the result files ("tvt*.tmp") in the temporary directory.
std::vector<std::wstring> ResultFilesLeft();

// Writes a document for the test renderer (its commands, one per line) and returns its path.
std::wstring WriteDocument(const std::wstring& name, const std::string& script);

std::vector<uint8_t> ReadBinaryFile(const std::wstring& path);

// Redirects HKEY_CURRENT_USER to a fresh scratch key for the object's lifetime, then deletes it.
class ScratchHkcu {
public:
    ScratchHkcu();
    ~ScratchHkcu();
    ScratchHkcu(const ScratchHkcu&) = delete;
    ScratchHkcu& operator=(const ScratchHkcu&) = delete;

private:
    std::wstring m_path;
    HKEY m_key = nullptr;
};

// "Software\Classes\CLSID\{...}": the class key whose RenderCommand the helpers below set, the
// thumbnail class's in the thumbnail DLL's tests and the preview class's in the preview DLL's.
std::wstring RenderCommandClassKey();

// Stores RenderCommand in the class key with exactly the given type and bytes.
void SetRenderCommandRaw(DWORD type, const void* data, DWORD byteCount);
// Stores RenderCommand as REG_SZ text with its terminator.
void SetRenderCommand(const std::wstring& text);
// Removes RenderCommand, leaving the class key in place.
void RemoveRenderCommand();
// Points RenderCommand at the test renderer, with the thumbnail's default command's arguments.
void UseTestRenderer();

// What the test renderer recorded about its start (TORV_TEST_RECORD).
struct RendererStart {
    DWORD flags = 0;
    DWORD showWindow = 0;
    uintptr_t stdOutput = 0;
    std::wstring commandLine;
};
// Makes the test renderer record its start into a file of this process's temporary directory.
class RecordRendererStart {
public:
    RecordRendererStart();
    ~RecordRendererStart();
    bool Read(RendererStart& start) const;

private:
    std::wstring m_path;
};

// Child processes of this process that are still alive (the renderers it started).
int LiveChildren();

// Open handles of this process, from the system handle list (GetProcessHandleCount is 0 in Wine).
size_t CountProcessHandles();

}  // namespace testing_support
