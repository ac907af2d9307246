// The files that the thumbnail and page modes open.
#include "renderer/mode_steps.h"

#include "renderer/file_stream.h"

#include <cstdio>

namespace {

// As the engine's own fz_open_file_w opens it, read through a window (file_stream.h).
fz_stream* OpenDocumentFile(fz_context* ctx, const void* path)
{
    FILE* file = _wfopen(static_cast<const wchar_t*>(path), L"rb");
    if (!file) {
        fz_throw(ctx, FZ_ERROR_SYSTEM, "cannot open the document");
    }
    return OpenWindowedFile(ctx, file);
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
