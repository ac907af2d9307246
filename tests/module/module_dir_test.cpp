// The module directory, also for a library loaded from a path longer than MAX_PATH.
#include "module/torvthumb.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::wstring BuiltLibraryPath()
{
    return TestDir() + L"\\..\\bin\\torvthumb.dll";
}

std::wstring ReadRegistryText(const wchar_t* subkey)
{
    wchar_t data[4096] = {};
    DWORD bytes = sizeof(data);
    if (RegGetValueW(HKEY_CURRENT_USER, subkey, nullptr, RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

TEST(ModuleDir, IsTheDirectoryOfTheModule)
{
    // In a test program the server's module is the program itself.
    EXPECT_EQ(DllDir(), TestDir());
    EXPECT_EQ(DllDir().back() == L'\\', false);
}

TEST(ModuleDir, LibraryLoadedFromLongPath)
{
    std::wstring directory = TempDir();
    while (directory.size() < 2 * MAX_PATH) {
        directory += L"\\a-rather-long-directory-name-for-the-module-" + std::to_wstring(directory.size());
        ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << "error " << GetLastError();
    }
    const std::wstring library = directory + L"\\torvthumb.dll";
    ASSERT_TRUE(CopyFileW(BuiltLibraryPath().c_str(), library.c_str(), FALSE));

    HMODULE module = LoadLibraryW(library.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    EXPECT_EQ(ModuleFileName(module), library);

    // The library's own registration shows the directory it computed.
    {
        ScratchHkcu hkcu;
        using Export = HRESULT(WINAPI*)();
        auto registerServer = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
        ASSERT_NE(registerServer, nullptr);
        EXPECT_EQ(registerServer(), S_OK);
        EXPECT_EQ(ReadRegistryText(L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}\\InprocServer32"),
                  library);
    }
    FreeLibrary(module);
}

}  // namespace
