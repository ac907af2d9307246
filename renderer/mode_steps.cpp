// The files that the thumbnail and page modes open.
#include "renderer/mode_steps.h"

namespace {

fz_stream* OpenDocumentFile(fz_context* ctx, const void* path)
{
    return fz_open_file_w(ctx, static_cast<const wchar_t*>(path));
}

}  // namespace

UniqueFile OpenOutputFile(const std::wstring& path) noexcept
{
    return UniqueFile(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

DocumentSource DocumentFile(const std::wstring& path) noexcept
{
    return DocumentSource{OpenDocumentFile, path.c_str()};
}
