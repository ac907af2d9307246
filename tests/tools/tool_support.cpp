// Helpers for the tests of the tools.
#include "tools/tool_support.h"

#include "shared/unique_resource.h"
#include "support/test_support.h"

#include <wincodec.h>

#include <cstring>

namespace tool_testing {

namespace {

constexpr DWORD kRunTimeoutMs = 60000;

const std::wstring kClassesKey = L"Software\\Classes\\";

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (m_ptr) {
            m_ptr->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    T** put() { return &m_ptr; }

private:
    T* m_ptr = nullptr;
};

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle()
    {
        if (m_handle && m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle && m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

Handle CreateInheritableFile(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return Handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class ComScope {
public:
    ComScope() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_hr)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_hr;
};

}  // namespace

std::wstring BinDir()
{
    const std::wstring tests = testing_support::TestDir();
    return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin";
}

std::wstring HostPath()
{
    return BinDir() + L"\\thumbhost.exe";
}

std::wstring ViewerPath()
{
    return BinDir() + L"\\TorvView.exe";
}

std::wstring SamplesDir()
{
    return testing_support::TestDir() + L"\\samples";
}

std::wstring DocumentsDir()
{
    return testing_support::TestDir() + L"\\documents";
}

std::wstring ThumbArguments(const std::wstring& document, const std::wstring& size, const std::wstring& result)
{
    return L"--thumb " + Quote(document) + L" " + size + L" " + Quote(result);
}

RendererResult ReadRendererResult(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    RendererResult result;
    if (bytes.size() < 8) {
        return result;
    }
    std::memcpy(&result.width, bytes.data(), 4);
    std::memcpy(&result.height, bytes.data() + 4, 4);
    const size_t pixels = static_cast<size_t>(result.width) * static_cast<size_t>(result.height);
    result.complete = result.width > 0 && result.height > 0 && bytes.size() == 8 + pixels * 4;
    result.opaque = result.complete;
    for (size_t i = 0; result.opaque && i < pixels; ++i) {
        result.opaque = bytes[8 + i * 4 + 3] == 0xFF;
    }
    result.pixels.assign(bytes.begin() + 8, bytes.end());
    return result;
}

bool SetClassesText(const std::wstring& subkey, const wchar_t* name, const std::wstring& text, REGSAM view)
{
    UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (kClassesKey + subkey).c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr,
                        key.put(), nullptr)
        != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)))
           == ERROR_SUCCESS;
}

std::wstring ClassesText(const std::wstring& subkey, const wchar_t* name, REGSAM view)
{
    UniqueHKey key;
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (kClassesKey + subkey).c_str(), 0, KEY_QUERY_VALUE | view, key.put())
            != ERROR_SUCCESS
        || RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return text;
}

void DeleteClassesTree(const std::wstring& subkey, REGSAM view)
{
    {
        UniqueHKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (kClassesKey + subkey).c_str(), 0, KEY_ALL_ACCESS | view, key.put())
            != ERROR_SUCCESS) {
            return;
        }
        RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(HKEY_CURRENT_USER, (kClassesKey + subkey).c_str(), view, 0);
}

std::wstring Quote(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

ProcessResult Run(const std::wstring& commandLine, const std::wstring& workingDir)
{
    static LONG runs = 0;
    const std::wstring stem = testing_support::TempDir() + L"\\run" + std::to_wstring(InterlockedIncrement(&runs));
    ProcessResult result;
    {
        const Handle out = CreateInheritableFile(stem + L".out");
        const Handle err = CreateInheritableFile(stem + L".err");
        if (!out.valid() || !err.valid()) {
            return result;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION info{};
        std::wstring line = commandLine;
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                            workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info)) {
            return result;
        }
        const Handle process(info.hProcess);
        const Handle thread(info.hThread);
        if (WaitForSingleObject(process.get(), kRunTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 0xFFFFFFFF);
            WaitForSingleObject(process.get(), kRunTimeoutMs);
        } else {
            GetExitCodeProcess(process.get(), &result.exitCode);
        }
    }
    result.out = ReadText(stem + L".out");
    result.err = ReadText(stem + L".err");
    DeleteFileW((stem + L".out").c_str());
    DeleteFileW((stem + L".err").c_str());
    return result;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    const Handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file.valid() && !bytes.empty()) {
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return bytes;
    }
    BYTE buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.insert(bytes.end(), buffer, buffer + read);
    }
    return bytes;
}

std::vector<std::wstring> ListDirectory(const std::wstring& directory)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

void DeleteTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::wstring& name : ListDirectory(path)) {
            DeleteTree(path + L"\\" + name);
        }
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

std::string LineStartingWith(const std::string& output, const std::string& prefix)
{
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string line = output.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return line;
        }
        start = end + 1;
    }
    return std::string();
}

std::string Narrow(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], length, nullptr,
                            nullptr);
    }
    return bytes;
}

DWORD DecodedImage::Pixel(UINT x, UINT y) const
{
    const BYTE* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16)
         | (static_cast<DWORD>(p[3]) << 24);
}

DecodedImage DecodeImage(const std::wstring& path)
{
    const ComScope com;
    DecodedImage image;
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    ComRef<IWICBitmapSource> converted;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.put()));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                decoder.put());
    }
    if (SUCCEEDED(hr)) {
        hr = decoder->GetFrame(0, frame.put());
    }
    if (SUCCEEDED(hr)) {
        hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(), converted.put());
    }
    if (SUCCEEDED(hr)) {
        hr = converted->GetSize(&image.width, &image.height);
    }
    if (SUCCEEDED(hr)) {
        image.bgra.resize(static_cast<size_t>(image.width) * image.height * 4);
        hr = converted->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(image.bgra.size()), image.bgra.data());
    }
    image.hr = hr;
    return image;
}

}  // namespace tool_testing
