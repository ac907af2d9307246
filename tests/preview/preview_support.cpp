// Helpers of the preview handler's tests.
#include "preview_support.h"

#include "preview/page_layout.h"
#include "preview/preview_module.h"
#include "support/pattern.h"
#include "support/test_support.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <sstream>

namespace preview_testing {

using namespace testing_support;

void UseTestPageRenderer()
{
    SetRenderCommand(L"\"" + RendererPath() + L"\" --page \"%1\" %2 %3 \"%4\" \"%5\"");
}

ComPtr<IPreviewHandler> NewHandler()
{
    ComPtr<IClassFactory> factory;
    ComPtr<IPreviewHandler> handler;
    if (SUCCEEDED(DllGetClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()))) {
        factory->CreateInstance(nullptr, IID_IPreviewHandler, handler.put_void());
    }
    return handler;
}

HRESULT InitializeWithFile(IPreviewHandler* handler, const std::wstring& path)
{
    ComPtr<IInitializeWithFile> init;
    HRESULT hr = handler->QueryInterface(IID_IInitializeWithFile, init.put_void());
    return SUCCEEDED(hr) ? init->Initialize(path.c_str(), STGM_READ) : hr;
}

HRESULT InitializeWithStream(IPreviewHandler* handler, IStream* stream)
{
    ComPtr<IInitializeWithStream> init;
    HRESULT hr = handler->QueryInterface(IID_IInitializeWithStream, init.put_void());
    return SUCCEEDED(hr) ? init->Initialize(stream, STGM_READ) : hr;
}

ComPtr<IStream> FileStream(const std::wstring& path)
{
    ComPtr<IStream> stream;
    SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                           stream.put());
    return stream;
}

int PageWidthFor(int clientWidth)
{
    return clientWidth - 2 * kPageMargin;
}

DWORD PixelAt(const Pixels& pixels, int x, int y)
{
    const BYTE* p = &pixels.bgra[(static_cast<size_t>(y) * pixels.width + static_cast<size_t>(x)) * 4];
    return static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[1]) << 8 | p[0];
}

size_t CountColor(const Pixels& pixels, const RECT& area, DWORD rgb)
{
    size_t count = 0;
    for (LONG y = std::max<LONG>(0, area.top); y < std::min<LONG>(area.bottom, static_cast<LONG>(pixels.height)); ++y) {
        for (LONG x = std::max<LONG>(0, area.left); x < std::min<LONG>(area.right, static_cast<LONG>(pixels.width));
             ++x) {
            count += PixelAt(pixels, x, y) == rgb;
        }
    }
    return count;
}

testing::AssertionResult HoldsPage(const Pixels& pixels, int left, int top, unsigned page, int pageWidth, int firstRow,
                                   int rows)
{
    if (left + pageWidth > static_cast<int>(pixels.width) || top + rows > static_cast<int>(pixels.height)) {
        return testing::AssertionFailure() << "the page's " << pageWidth << " x " << rows << " pixels at (" << left
                                           << ", " << top << ") do not fit the " << pixels.width << " x "
                                           << pixels.height << " picture";
    }
    for (int row = 0; row < rows; ++row) {
        for (int x = 0; x < pageWidth; ++x) {
            const uint64_t index = (static_cast<uint64_t>(firstRow + row) * pageWidth + x) * 4;
            const BYTE* actual = &pixels.bgra[(static_cast<size_t>(top + row) * pixels.width + left + x) * 4];
            for (int channel = 0; channel < 3; ++channel) {
                const uint8_t expected = PageByte(index + channel, page);
                if (actual[channel] != expected) {
                    return testing::AssertionFailure()
                        << "page " << page << " row " << firstRow + row << " column " << x << " channel " << channel
                        << ": " << int(actual[channel]) << " where the renderer wrote " << int(expected);
                }
            }
        }
    }
    return testing::AssertionSuccess();
}

std::vector<std::wstring> PreviewFilesIn(const std::wstring& directory)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\tvp*.tmp").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(entry.cFileName);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return names;
}

std::vector<std::wstring> PreviewFilesLeft()
{
    return PreviewFilesIn(TempDir());
}

int LiveChildren()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        count += entry.th32ParentProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

bool WaitForChildren(PaneHost& host, int count, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (LiveChildren() != count) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        host.Pump(50);
    }
    return true;
}

PageLog::PageLog() : m_path(TempDir() + L"\\page-log.txt")
{
    DeleteFileW(m_path.c_str());
    SetEnvironmentVariableW(L"TORV_TEST_PAGE_LOG", m_path.c_str());
}

PageLog::~PageLog()
{
    SetEnvironmentVariableW(L"TORV_TEST_PAGE_LOG", nullptr);
    DeleteFileW(m_path.c_str());
}

std::vector<std::string> PageLog::Lines() const
{
    const std::vector<uint8_t> bytes = ReadBinaryFile(m_path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<unsigned> PageLog::Pages() const
{
    std::vector<unsigned> pages;
    for (const std::string& line : Lines()) {
        pages.push_back(static_cast<unsigned>(std::stoul(line)));
    }
    return pages;
}

}  // namespace preview_testing
