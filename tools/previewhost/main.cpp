// previewhost: shows files in the preview handlers registered for them, as the Shell's preview pane
// does, and writes what the pane shows as PNG files.
#include "tools/host/handler_library.h"
#include "tools/host/handler_registry.h"
#include "tools/host/host_support.h"
#include "tools/host/hresult_text.h"
#include "tools/host/png_file.h"
#include "tools/previewhost/pane_host.h"
#include "tools/previewhost/preview_options.h"

#include <shlwapi.h>

#include <chrono>
#include <new>
#include <string>
#include <vector>

namespace {

enum ExitCode : int {
    kExitAllShown = 0,
    kExitSomeFailed = 1,
    kExitUsage = 2,
};

// How long one paint may take, the renderer's 30-second limit and more.
constexpr DWORD kPaintWaitMs = 60000;

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Note(const std::wstring& file, const std::wstring& text)
{
    Print(stderr, L"previewhost: " + file + L": " + text);
}

std::wstring PictureName(const std::wstring& file, const std::wstring& suffix, const std::wstring& outDir)
{
    const std::wstring name = FileName(file) + L".pane" + suffix + L".png";
    return outDir.empty() ? name : outDir + L"\\" + name;
}

std::wstring ActionSuffix(const PaneAction& action)
{
    switch (action.kind) {
    case PaneAction::Kind::ToPage:
        return L"-page" + std::to_wstring(action.page);
    case PaneAction::Kind::Key:
        return L"-" + action.keyName;
    case PaneAction::Kind::Resize:
        break;
    }
    return L"-" + std::to_wstring(action.size.cx) + L"x" + std::to_wstring(action.size.cy);
}

std::wstring ActionName(const PaneAction& action)
{
    switch (action.kind) {
    case PaneAction::Kind::ToPage:
        return L"--to-page " + std::to_wstring(action.page);
    case PaneAction::Kind::Key:
        return L"--key " + action.keyName;
    case PaneAction::Kind::Resize:
        break;
    }
    return L"--resize " + std::to_wstring(action.size.cx) + L"x" + std::to_wstring(action.size.cy);
}

// What the pane showed: the pages in view, or the message in their place.
std::wstring Shown(const PaneHost& host, const PanePainted& painted)
{
    if (painted.firstPage == 0) {
        wchar_t text[512] = {};
        GetWindowTextW(host.View(), text, 512);
        return L"message \"" + std::wstring(text) + L"\"";
    }
    return L"pages " + std::to_wstring(painted.firstPage) + L"-" + std::to_wstring(painted.lastPage) + L" in view";
}

class PreviewRun {
public:
    explicit PreviewRun(const PreviewOptions& options) : m_options(options) {}

    // True when the file showed pages (not a message) and every picture was written.
    bool File(const std::wstring& file);

private:
    StepResult Show(const std::wstring& file, const std::wstring& fullPath, const ShellHandler& handler,
                    const HandlerLibrary& library);
    StepResult CreateHandler(const ShellHandler& handler, const HandlerLibrary& library,
                             ComPtr<IPreviewHandler>& preview);
    StepResult Initialize(IPreviewHandler* preview, const std::wstring& fullPath);
    PanePainted Act(PaneHost& host, const PaneAction& action);
    bool Picture(const std::wstring& line, const PaneHost& host, const std::wstring& path);

    const PreviewOptions& m_options;
    bool m_showedPages = false;
    bool m_picturesWritten = true;
};

StepResult PreviewRun::CreateHandler(const ShellHandler& handler, const HandlerLibrary& library,
                                     ComPtr<IPreviewHandler>& preview)
{
    ComPtr<IClassFactory> factory;
    const StepResult got = GetClassFactory(handler, library, factory);
    if (!got.ok()) {
        return got;
    }
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IPreviewHandler, preview.put_void());
    if (FAILED(hr) || !preview) {
        return Failure(FAILED(hr) ? hr : E_UNEXPECTED,
                       L"the handler " + handler.clsidText + L" could not be created as a preview handler");
    }
    return StepResult{};
}

StepResult PreviewRun::Initialize(IPreviewHandler* preview, const std::wstring& fullPath)
{
    HRESULT hr = E_NOINTERFACE;
    if (m_options.stream) {
        ComPtr<IInitializeWithStream> init;
        ComPtr<IStream> stream;
        hr = SHCreateStreamOnFileEx(fullPath.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                    nullptr, stream.put());
        if (FAILED(hr)) {
            return Failure(hr, L"the file cannot be opened as a stream: " + SystemMessage(hr));
        }
        hr = preview->QueryInterface(IID_IInitializeWithStream, init.put_void());
        if (SUCCEEDED(hr)) {
            hr = init->Initialize(stream.get(), STGM_READ);
        }
    } else {
        ComPtr<IInitializeWithFile> init;
        hr = preview->QueryInterface(IID_IInitializeWithFile, init.put_void());
        if (SUCCEEDED(hr)) {
            hr = init->Initialize(fullPath.c_str(), STGM_READ);
        }
    }
    if (FAILED(hr)) {
        return Failure(hr, std::wstring(L"the handler refused the file in ")
                               + (m_options.stream ? L"IInitializeWithStream" : L"IInitializeWithFile")
                               + L"::Initialize");
    }
    return StepResult{};
}

PanePainted PreviewRun::Act(PaneHost& host, const PaneAction& action)
{
    switch (action.kind) {
    case PaneAction::Kind::Key:
        host.PressKey(action.key);
        return host.WaitForPainted(kPaintWaitMs);
    case PaneAction::Kind::Resize:
        host.Resize(action.size.cx, action.size.cy);
        return host.WaitForPainted(kPaintWaitMs);
    case PaneAction::Kind::ToPage:
        break;
    }
    // Page Down until the page is at the top, or the pane stops moving at the end.
    PanePainted painted;
    for (UINT previous = 0;; ) {
        host.PressKey(VK_NEXT);
        painted = host.WaitForPainted(kPaintWaitMs);
        if (!painted.painted || painted.firstPage >= action.page || painted.firstPage == 0) {
            return painted;
        }
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_POS;
        GetScrollInfo(host.View(), SB_VERT, &info);
        if (static_cast<UINT>(info.nPos) == previous) {
            return painted;
        }
        previous = static_cast<UINT>(info.nPos);
    }
}

bool PreviewRun::Picture(const std::wstring& line, const PaneHost& host, const std::wstring& path)
{
    Pixels pixels;
    HRESULT hr = host.Capture(pixels);
    if (SUCCEEDED(hr)) {
        hr = WritePng(pixels, false, path);
    }
    if (FAILED(hr)) {
        m_picturesWritten = false;
        Print(stdout, line + L"; cannot write \"" + path + L"\": " + HResultName(hr) + L" " + HResultHex(hr) + L" "
                          + SystemMessage(hr));
        return false;
    }
    Print(stdout, line + L" -> " + path);
    return true;
}

StepResult PreviewRun::Show(const std::wstring& file, const std::wstring& fullPath, const ShellHandler& handler,
                            const HandlerLibrary& library)
{
    ComPtr<IPreviewHandler> preview;
    StepResult step = CreateHandler(handler, library, preview);
    if (step.ok()) {
        step = Initialize(preview.get(), fullPath);
    }
    if (!step.ok()) {
        return step;
    }
    PaneHost host(m_options.size.cx, m_options.size.cy);
    const HRESULT attached = host.Attach(preview.get());
    if (FAILED(attached)) {
        return Failure(attached, L"the handler refused the pane's window in SetWindow");
    }
    const Clock::time_point start = Clock::now();
    const HRESULT previewed = preview->DoPreview();
    if (FAILED(previewed)) {
        return Failure(previewed, L"the handler's DoPreview failed");
    }
    PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    long long milliseconds = MillisecondsSince(start);
    if (!painted.painted) {
        return Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the pane did not finish drawing within "
                                                              + std::to_wstring(kPaintWaitMs / 1000) + L" s");
    }
    m_showedPages = painted.firstPage != 0;
    Picture(file + L": S_OK 0x00000000 " + Shown(host, painted) + L" " + std::to_wstring(milliseconds) + L" ms", host,
            PictureName(file, L"", m_options.outDir));
    for (const PaneAction& action : m_options.actions) {
        const Clock::time_point actionStart = Clock::now();
        painted = Act(host, action);
        milliseconds = MillisecondsSince(actionStart);
        if (!painted.painted) {
            return Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"after " + ActionName(action)
                                                                  + L" the pane did not finish drawing");
        }
        Picture(file + L": after " + ActionName(action) + L": " + Shown(host, painted) + L" "
                    + std::to_wstring(milliseconds) + L" ms",
                host, PictureName(file, ActionSuffix(action), m_options.outDir));
    }
    return StepResult{};
}

bool PreviewRun::File(const std::wstring& file)
{
    m_showedPages = false;
    m_picturesWritten = true;
    const Clock::time_point start = Clock::now();
    const std::wstring fullPath = FullPath(file);
    StepResult result;
    if (GetFileAttributesW(fullPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        result = Failure(hr, L"the file cannot be found: " + SystemMessage(hr));
    } else {
        ShellHandler handler;
        result = FindHandler(FileExtension(fullPath), kPreviewHandlerKind, handler);
        HandlerLibrary library;
        if (result.ok() && m_options.verbose) {
            Note(file, L"handler " + handler.clsidText + L" from " + handler.bindingKey);
            Note(file, L"DLL \"" + handler.dllPath + L"\" from " + handler.serverKey + L", ThreadingModel \""
                           + handler.threadingModel + L"\"");
        }
        if (result.ok()) {
            result = LoadHandlerLibrary(handler, library);
        }
        if (result.ok()) {
            result = Show(file, fullPath, handler, library);
            if (!library.UnloadIfAllowed()) {
                Note(file, L"warning: \"" + handler.dllPath + L"\" cannot be unloaded after everything was released "
                                                            L"(DllCanUnloadNow is missing or not S_OK); it stays loaded");
            }
        }
    }
    if (!result.ok()) {
        Print(stdout, file + L": " + HResultName(result.hr) + L" " + HResultHex(result.hr) + L" "
                          + std::to_wstring(MillisecondsSince(start)) + L" ms: " + result.message);
        return false;
    }
    return m_showedPages && m_picturesWritten;
}

int Run(int argc, wchar_t** argv)
{
    PreviewOptions options;
    std::wstring error;
    if (!ParsePreviewOptions(argc, argv, options, error)) {
        Print(stderr, L"previewhost: " + error + L"\nRun \"previewhost --help\" for usage.");
        return kExitUsage;
    }
    if (options.help) {
        Print(stdout, PreviewHelpText());
        return kExitAllShown;
    }
    const ComApartment com;
    if (FAILED(com.Result())) {
        Print(stderr, L"previewhost: COM cannot be initialised: " + HResultHex(com.Result()));
        return kExitSomeFailed;
    }
    if (!options.outDir.empty()) {
        // A directory that cannot be made shows up as a write failure for each picture.
        CreateDirectoryW(options.outDir.c_str(), nullptr);
    }
    PreviewRun run(options);
    size_t shown = 0;
    for (const std::wstring& file : options.files) {
        shown += run.File(file) ? 1 : 0;
    }
    Print(stdout, L"summary: " + std::to_wstring(shown) + L" of " + std::to_wstring(options.files.size())
                      + L" files shown with their pages, " + std::to_wstring(options.files.size() - shown)
                      + L" not");
    return shown == options.files.size() ? kExitAllShown : kExitSomeFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    return HostMain("previewhost", Run, argc, argv, kExitSomeFailed);
}
