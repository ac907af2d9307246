// The fonts installed on Windows, as the registry lists them: machine-wide ones in
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts (files named relative to %WINDIR%\Fonts),
// then the user's own (Windows 10 1809 and later) in the same key of HKCU (full paths, normally
// under %LOCALAPPDATA%\Microsoft\Windows\Fonts). Registry reads and files the renderer opens
// itself: no GDI, no DirectWrite, nothing that a confined process is refused.
#pragma once

#include "module/unique_resource.h"
#include "renderer/system_fonts.h"

#include <windows.h>

#include <string>
#include <vector>

class RegistryFonts final : public InstalledFonts {
public:
    RegistryFonts() = default;
    RegistryFonts(const RegistryFonts&) = delete;
    RegistryFonts& operator=(const RegistryFonts&) = delete;

    const std::vector<std::string>& Listing() override;
    // Maps the file read-only on the first call for it; the view stays until this object goes.
    FontBytes Bytes(size_t entry) noexcept override;

private:
    struct Entry {
        std::wstring path;
        UniqueMappedView view;
        size_t size = 0;
        bool tried = false;
    };

    void ReadListing(HKEY root, const std::wstring& folder);

    bool m_read = false;
    std::vector<std::string> m_names;
    std::vector<Entry> m_entries;
};
