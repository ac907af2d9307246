// Reads the renderer's page list file.
#include "preview/page_list.h"

#include "shared/unique_resource.h"

bool ReadPageListAt(const wchar_t* path, std::vector<PageSizePt>& pages)
{
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    constexpr LONGLONG kLargestList = kPageListHeaderBytes + LONGLONG{kMaxPreviewPages} * kPageListEntryBytes;
    // A file larger than the largest list is not one, and is not read.
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestList) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()
        && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())) {
        return false;
    }
    return DecodePageList(bytes.data(), bytes.size(), pages);
}
