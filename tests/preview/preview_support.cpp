// Helpers of the preview handler's tests.
#include "preview_support.h"

#include "preview/page_layout.h"
#include "preview/preview_module.h"
#include "support/pattern.h"
#include "support/test_support.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
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

namespace {

class MemoryStream final : public IStream {
public:
    MemoryStream(std::string bytes, long long statSize, bool failReads)
        : m_bytes(std::move(bytes)), m_statSize(statSize), m_failReads(failReads)
    {
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) || IsEqualIID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    IFACEMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (m_failReads) {
            return STG_E_READFAULT;
        }
        const size_t count = std::min<size_t>(cb, m_bytes.size() - m_position);
        memcpy(pv, m_bytes.data() + m_position, count);
        m_position += count;
        if (pcbRead) {
            *pcbRead = static_cast<ULONG>(count);
        }
        return count == cb ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        long long base = origin == STREAM_SEEK_SET ? 0
                       : origin == STREAM_SEEK_CUR ? static_cast<long long>(m_position)
                                                   : static_cast<long long>(m_bytes.size());
        const long long target = base + move.QuadPart;
        if (target < 0) {
            return STG_E_INVALIDFUNCTION;
        }
        m_position = std::min<size_t>(static_cast<size_t>(target), m_bytes.size());
        if (position) {
            position->QuadPart = m_position;
        }
        return S_OK;
    }
    IFACEMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Commit(DWORD) override { return S_OK; }
    IFACEMETHODIMP Revert() override { return E_NOTIMPL; }
    IFACEMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    IFACEMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD) override
    {
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = m_statSize >= 0 ? static_cast<ULONGLONG>(m_statSize) : m_bytes.size();
        return S_OK;
    }
    IFACEMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    LONG m_cRef = 1;
    std::string m_bytes;
    size_t m_position = 0;
    long long m_statSize;
    bool m_failReads;
};

}  // namespace

ComPtr<IStream> ApartmentStream(const std::string& bytes, long long statSize, bool failReads)
{
    ComPtr<IStream> stream;
    *stream.put() = new MemoryStream(bytes, statSize, failReads);
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
    return FilesMatching(directory + L"\\tvp*.tmp");
}

std::vector<std::wstring> PreviewFilesLeft()
{
    return PreviewFilesIn(TempDir());
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
