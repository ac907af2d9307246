// The thumbnail request, one function per step: make the result file, build the command,
// run the renderer, read the result file.
#include "thumbnail/thumbnail_request.h"

#include "module/unique_resource.h"
#include "thumbnail/render_command.h"
#include "thumbnail/result_file.h"

#include <new>

namespace {

// An empty temporary file that the platform created for the renderer to write; deleted when
// the owner goes, whatever the outcome.
class ResultFile {
public:
    ResultFile() noexcept = default;
    ~ResultFile()
    {
        if (m_path[0] != L'\0') {
            DeleteFileW(m_path);
        }
    }
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // False when the platform could not name or create the file; then no path is held.
    bool Create() noexcept
    {
        wchar_t directory[MAX_PATH] = {};
        // A result of 0 is failure, and one not below the buffer size is the length the
        // directory would need: either way the buffer holds no usable path.
        const DWORD length = GetTempPathW(MAX_PATH, directory);
        if (length == 0 || length >= MAX_PATH) {
            return false;
        }
        if (GetTempFileNameW(directory, L"tvt", 0, m_path) == 0) {
            m_path[0] = L'\0';
            return false;
        }
        return true;
    }

    const wchar_t* Path() const noexcept { return m_path; }

private:
    wchar_t m_path[MAX_PATH] = {};
};

// Starts the command hidden and without a console, waits for it at most kRenderTimeoutMs and
// terminates it if it overruns. True only when it ended in time with exit code 0.
bool RunRenderer(const std::wstring& command)
{
    // CreateProcessW may write into the command line it is given.
    std::wstring commandLine = command;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    UniqueProcessInformation process;
    process.adopt(info);

    // WAIT_TIMEOUT and WAIT_FAILED both mean the renderer may still be running.
    const DWORD wait = WaitForSingleObject(process.process.get(), kRenderTimeoutMs);
    DWORD exitCode = 1;
    if (wait != WAIT_OBJECT_0) {
        // Not awaited: a renderer that ignores termination must not hang the Shell.
        TerminateProcess(process.process.get(), 1);
    } else {
        GetExitCodeProcess(process.process.get(), &exitCode);
    }
    return (wait | exitCode) == 0;
}

HBITMAP ReadResultFileAt(const wchar_t* path) noexcept
{
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return nullptr;
    }
    return ReadResultFile(file.get());
}

HRESULT RenderThumbnail(const std::wstring& documentPath, UINT cx, HBITMAP* phbmp)
{
    ResultFile resultFile;
    if (!resultFile.Create()) {
        return E_FAIL;
    }
    const bool rendered = RunRenderer(BuildRenderCommand(documentPath, cx, resultFile.Path()));
    if (!rendered) {
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
