// Reads and checks the renderer's page list file.
#include "preview/page_list.h"

#include "preview/page_contract.h"
#include "shared/unique_resource.h"

#include <cmath>

namespace {

bool ReadExactly(HANDLE file, void* buffer, DWORD size) noexcept
{
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// A page the view can give a slot: a width and height that fit a float and are not zero.
bool IsDrawableSize(const PageSize& page) noexcept
{
    return std::isfinite(page.widthPt) && std::isfinite(page.heightPt) && page.widthPt > 0.0f
        && page.heightPt > 0.0f;
}

}  // namespace

bool ReadPageList(HANDLE file, std::vector<PageSize>& pages)
{
    uint32_t count = 0;
    if (!ReadExactly(file, &count, sizeof(count)) || count == 0 || count > kMaxPreviewPages) {
        return false;
    }
    std::vector<PageSize> listed(count);
    // At most 100,000 pairs: 800,000 bytes, well within one read.
    if (!ReadExactly(file, listed.data(), static_cast<DWORD>(count * sizeof(PageSize)))) {
        return false;
    }
    for (const PageSize& page : listed) {
        if (!IsDrawableSize(page)) {
            return false;
        }
    }
    pages.swap(listed);
    return true;
}

bool ReadPageListAt(const wchar_t* path, std::vector<PageSize>& pages)
{
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ReadPageList(file.get(), pages);
}
