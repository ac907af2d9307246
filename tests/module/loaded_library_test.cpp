// The built torvthumb.dll as a host loads it: by LoadLibraryW and through the COM runtime.
#include "module/torvthumb.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shobjidl.h>
#include <thumbcache.h>

#include <ostream>
#include <vector>

using namespace testing_support;

namespace {

std::wstring BuiltLibraryPath()
{
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW((TestDir() + L"\\..\\bin\\torvthumb.dll").c_str(), MAX_PATH, full, nullptr);
    return full;
}

using CanUnloadNow = HRESULT(WINAPI*)();
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

template <typename Function>
Function Export(HMODULE module, const char* nameOrOrdinal)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, nameOrOrdinal)));
}

const char* Ordinal(WORD ordinal)
{
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal));
}

// Renders the given document through a provider and returns the bitmap's size.
SIZE RenderThroughProvider(IThumbnailProvider* provider, const std::wstring& document, HRESULT& hr)
{
    SIZE size{};
    IInitializeWithFile* init = nullptr;
    hr = provider->QueryInterface(IID_IInitializeWithFile, reinterpret_cast<void**>(&init));
    if (FAILED(hr)) {
        return size;
    }
    hr = init->Initialize(document.c_str(), STGM_READ);
    init->Release();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) {
        hr = provider->GetThumbnail(256, &bitmap, &alpha);
    }
    if (bitmap) {
        BITMAP info{};
        GetObjectW(bitmap, sizeof(info), &info);
        size = SIZE{info.bmWidth, info.bmHeight};
        DeleteObject(bitmap);
    }
    return size;
}

TEST(LoadedLibrary, ExportsByNameAndOrdinalAndRenders)
{
    ScratchHkcu hkcu;
    UseTestRenderer();
    HMODULE module = LoadLibraryW(BuiltLibraryPath().c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();

    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
        void* byName = reinterpret_cast<void*>(GetProcAddress(module, names[ordinal - 1]));
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, Ordinal(ordinal))), byName) << "ordinal " << ordinal;
    }
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr) << "the entry routine is not exported";

    auto canUnloadNow = Export<CanUnloadNow>(module, "DllCanUnloadNow");
    auto getClassObject = Export<GetClassObject>(module, "DllGetClassObject");
    EXPECT_EQ(canUnloadNow(), S_OK) << "nothing is alive right after load";

    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_TorvThumb, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IThumbnailProvider* provider = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    HRESULT hr = E_FAIL;
    const SIZE size = RenderThroughProvider(provider, WriteDocument(L"dll.pdf", "pattern 12 9\n"), hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(size.cx, 12);
    EXPECT_EQ(size.cy, 9);
    provider->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_TRUE(ResultFilesLeft().empty());
}

TEST(LoadedLibrary, CarriesVersionResource)
{
    const std::wstring library = BuiltLibraryPath();
    DWORD ignored = 0;
    std::vector<uint8_t> block(GetFileVersionInfoSizeW(library.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(library.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>((TORV_VERSION_MAJOR << 16) | TORV_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(TORV_VERSION_PATCH << 16));

    wchar_t* description = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
    EXPECT_STREQ(description, L"TorvView Thumbnail Provider");
}

// Sets a key's default value (and optionally one named value) under HKEY_LOCAL_MACHINE.
void SetMachineText(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// What the provider that the COM runtime creates is asked to draw, and with which renderer.
struct ComCase {
    const char* name;
    bool testRenderer;  // the test renderer through RenderCommand; otherwise TorvView.exe beside the library
    std::wstring (*document)();
    LONG width;
    LONG height;
};

std::ostream& operator<<(std::ostream& out, const ComCase& c)
{
    return out << c.name;
}

class ComRuntimeTest : public testing::TestWithParam<ComCase> {};

INSTANTIATE_TEST_SUITE_P(
    Renderers, ComRuntimeTest,
    testing::Values(ComCase{"test_renderer", true, [] { return WriteDocument(L"com.pdf", "pattern 4 6\n"); }, 4, 6},
                    // The whole way, as the Shell takes it: the renderer of the tree's own machine.
                    ComCase{"renderer_beside_the_library", false,
                            [] { return TestDir() + L"\\samples\\report.pdf"; }, 181, 256}),
    [](const testing::TestParamInfo<ComCase>& info) { return std::string(info.param.name); });

// Wine's COM runtime reads classes only from HKEY_LOCAL_MACHINE, so the class key is mirrored
// there for this test and removed afterwards.
TEST_P(ComRuntimeTest, CreatesRendersAndUnloads)
{
    const ComCase& c = GetParam();
    const std::wstring classKey = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
    SetMachineText(classKey, nullptr, L"TorvView Thumbnail Provider");
    SetMachineText(classKey + L"\\InprocServer32", nullptr, BuiltLibraryPath());
    SetMachineText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");

    ScratchHkcu hkcu;
    if (c.testRenderer) {
        UseTestRenderer();
    }
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    IThumbnailProvider* provider = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_TorvThumb, nullptr, CLSCTX_INPROC_SERVER, IID_IThumbnailProvider,
                                             reinterpret_cast<void**>(&provider));
    EXPECT_EQ(created, S_OK);
    if (provider) {
        EXPECT_NE(GetModuleHandleW(L"torvthumb.dll"), nullptr);
        HRESULT hr = E_FAIL;
        const SIZE size = RenderThroughProvider(provider, c.document(), hr);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(size.cx, c.width);
        EXPECT_EQ(size.cy, c.height);
        provider->Release();
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(GetModuleHandleW(L"torvthumb.dll"), nullptr) << "the runtime should unload an idle library";
    }
    CoUninitialize();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
    EXPECT_TRUE(ResultFilesLeft().empty());
}

}  // namespace
