// The preview's temporary folder, chosen by the process's integrity level.
#include "preview/temp_folder.h"

#include "shared/temp_file.h"
#include "shared/unique_resource.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>

namespace {

std::atomic<DWORD> g_levelOverride{0};

struct CoTaskMemoryTraits {
    using Handle = wchar_t*;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle text) noexcept { CoTaskMemFree(text); }
};

std::wstring LowIntegrityTempDirectory()
{
    UniqueResource<CoTaskMemoryTraits> localLow;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, KF_FLAG_CREATE, nullptr, localLow.put()))) {
        return std::wstring();
    }
    const std::wstring directory = std::wstring(localLow.get()) + L"\\Temp";
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::wstring();
    }
    return directory + L"\\";
}

}  // namespace

DWORD ProcessIntegrityLevel() noexcept
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return SECURITY_MANDATORY_MEDIUM_RID;
    }
    // TOKEN_MANDATORY_LABEL points into the same buffer at a SID of one subauthority.
    alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
        return SECURITY_MANDATORY_MEDIUM_RID;
    }
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    return count == 0 ? SECURITY_MANDATORY_MEDIUM_RID : *GetSidSubAuthority(sid, count - 1u);
}

void OverrideIntegrityLevel(DWORD level) noexcept
{
    g_levelOverride = level;
}

std::wstring PreviewTempDirectory()
{
    const DWORD overridden = g_levelOverride;
    const DWORD level = overridden != 0 ? overridden : ProcessIntegrityLevel();
    return level <= SECURITY_MANDATORY_LOW_RID ? LowIntegrityTempDirectory() : UserTempDirectory();
}
