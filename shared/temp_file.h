// Temporary files that a DLL makes for the renderer to read or write, deleted when their use ends.
#pragma once

#include <windows.h>

#include <string>

// The user's temporary directory as GetTempPathW gives it, with its trailing separator; empty when
// the platform cannot name it within MAX_PATH characters. Throws std::bad_alloc.
std::wstring UserTempDirectory();

// An empty file that the platform created with a unique name; deleted when the owner goes.
class TempFile {
public:
    TempFile() noexcept = default;
    ~TempFile() { Delete(); }
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates "<directory><prefix>XXXX.tmp" (prefix: up to three characters). False when the
    // platform could not name or create the file; then no path is held. A file held before is deleted.
    bool Create(const std::wstring& directory, const wchar_t* prefix) noexcept;

    // Empty when no file is held.
    const wchar_t* Path() const noexcept { return m_path; }
    bool Held() const noexcept { return m_path[0] != L'\0'; }

    // Deletes the file now, if one is held.
    void Delete() noexcept;

private:
    wchar_t m_path[MAX_PATH] = {};
};
