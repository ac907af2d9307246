// Temporary files with unique names, deleted by their owner.
#include "shared/temp_file.h"

#include <cstring>

std::wstring UserTempDirectory()
{
    wchar_t directory[MAX_PATH] = {};
    // A result of 0 is failure, and one not below the buffer size is the length the directory
    // would need: either way the buffer holds no usable path.
    const DWORD length = GetTempPathW(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return std::wstring(directory, length);
}

TempFile::TempFile(TempFile&& other) noexcept
{
    std::memcpy(m_path, other.m_path, sizeof(m_path));
    other.m_path[0] = L'\0';
}

TempFile& TempFile::operator=(TempFile&& other) noexcept
{
    if (this != &other) {
        Delete();
        std::memcpy(m_path, other.m_path, sizeof(m_path));
        other.m_path[0] = L'\0';
    }
    return *this;
}

bool TempFile::Create(const std::wstring& directory, const wchar_t* prefix) noexcept
{
    Delete();
    if (directory.empty() || GetTempFileNameW(directory.c_str(), prefix, 0, m_path) == 0) {
        m_path[0] = L'\0';
        return false;
    }
    return true;
}

void TempFile::Delete() noexcept
{
    if (m_path[0] != L'\0') {
        DeleteFileW(m_path);
        m_path[0] = L'\0';
    }
}
