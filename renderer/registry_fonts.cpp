// The registry's font list and the font files, mapped read-only.
#include "renderer/registry_fonts.h"

namespace {

constexpr wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], size, nullptr, nullptr);
    }
    return utf8;
}

// A value's text without the terminator the registry may or may not have stored.
std::wstring ValueText(const std::vector<wchar_t>& data, DWORD bytes)
{
    std::wstring text(data.data(), bytes / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::wstring Expanded(const std::wstring& text)
{
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(size, L'\0');
    if (size == 0 || ExpandEnvironmentStringsW(text.c_str(), &expanded[0], size) != size) {
        return text;
    }
    expanded.resize(size - 1);
    return expanded;
}

// A file named without a folder is in the folder of the list it came from.
std::wstring FullPath(const std::wstring& file, const std::wstring& folder)
{
    if (file.find_first_of(L"\\/:") != std::wstring::npos) {
        return file;
    }
    return folder + L"\\" + file;
}

std::wstring MachineFontFolder()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(windows, length) + L"\\Fonts" : std::wstring();
}

std::wstring UserFontFolder()
{
    wchar_t local[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(local, length) + L"\\Microsoft\\Windows\\Fonts"
                                           : std::wstring();
}

// The whole file as a read-only view; the file and mapping handles can go at once, the view keeps
// the section. Files the engine could not read as fonts anyway (under 12 bytes) are left alone.
UniqueMappedView MapFontFile(const std::wstring& path, size_t& size)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length) || length.QuadPart < 12
        || uint64_t(length.QuadPart) > SIZE_MAX) {
        return UniqueMappedView();
    }
    const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        return UniqueMappedView();
    }
    UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    size = size_t(length.QuadPart);
    return view;
}

}  // namespace

void RegistryFonts::ReadListing(HKEY root, const std::wstring& folder)
{
    UniqueHKey key;
    if (RegOpenKeyExW(root, kFontsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                         &longestData, nullptr, nullptr)
        != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> name(size_t(longestName) + 1);
    std::vector<wchar_t> data(size_t(longestData) / sizeof(wchar_t) + 1);
    for (DWORD index = 0; index < values; ++index) {
        DWORD nameLength = DWORD(name.size());
        DWORD type = 0;
        DWORD dataBytes = DWORD(data.size() * sizeof(wchar_t));
        if (RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &dataBytes)
                != ERROR_SUCCESS
            || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            continue;
        }
        std::wstring file = ValueText(data, dataBytes);
        if (type == REG_EXPAND_SZ) {
            file = Expanded(file);
        }
        const std::string path = Utf8(file);
        if (!IsOutlineFontFile(path)) {
            continue;
        }
        m_names.push_back(Utf8(std::wstring(name.data(), nameLength)));
        m_entries.push_back(Entry{FullPath(file, folder), UniqueMappedView(), 0, false});
    }
}

const std::vector<std::string>& RegistryFonts::Listing()
{
    if (!m_read) {
        m_read = true;
        ReadListing(HKEY_LOCAL_MACHINE, MachineFontFolder());
        ReadListing(HKEY_CURRENT_USER, UserFontFolder());
    }
    return m_names;
}

FontBytes RegistryFonts::Bytes(size_t entry) noexcept
{
    if (entry >= m_entries.size()) {
        return FontBytes{};
    }
    Entry& found = m_entries[entry];
    if (!found.tried) {
        found.tried = true;
        found.view = MapFontFile(found.path, found.size);
    }
    return found.view ? FontBytes{static_cast<const unsigned char*>(found.view.get()), found.size} : FontBytes{};
}
