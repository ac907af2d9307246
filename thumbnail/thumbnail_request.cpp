// The thumbnail request, one function per step: make the result file, build the command,
// run the renderer, read the result file.
#include "thumbnail/thumbnail_request.h"

#include "shared/result_file.h"
#include "shared/temp_file.h"
#include "thumbnail/render_command.h"

#include <new>

namespace {

HRESULT RenderThumbnail(const std::wstring& documentPath, UINT cx, HBITMAP* phbmp)
{
    // Deleted when it goes out of scope, whatever the outcome.
    TempFile resultFile;
    if (!resultFile.Create(UserTempDirectory(), L"tvt")) {
        return E_FAIL;
    }
    if (!RunRenderer(BuildRenderCommand(documentPath, cx, resultFile.Path())).Succeeded()) {
        return E_FAIL;
    }
    *phbmp = ReadResultFileAt(resultFile.Path());
    return *phbmp ? S_OK : E_FAIL;
}

}  // namespace

HRESULT RunThumbnailRequest(const std::wstring& documentPath, UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) noexcept
{
    if (!phbmp || !pdwAlpha) {
        return E_POINTER;
    }
    *phbmp = nullptr;
    *pdwAlpha = WTSAT_RGB;
    if (documentPath.empty()) {
        return E_FAIL;
    }
    try {
        return RenderThumbnail(documentPath, cx, phbmp);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
