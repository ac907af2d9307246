// Both bitnesses installed side by side, as the installed folder holds them: torvthumb.dll (x64),
// torvthumb32.dll (x86) and the 64-bit TorvView.exe, each library registered with the regsvr32 of
// its bitness and used by the host of its bitness. Needs 32-bit Wine; ctest runs it only where
// this machine can run 32-bit programs.
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tool_testing::ProcessResult;
using tool_testing::Quote;

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
const wchar_t kBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
// Where 64-bit Windows keeps the 32-bit view of the user's classes. Wine gives a 32-bit view only
// below keys that have this subkey; cmake/wine-prefix.sh gives every prefix one.
const wchar_t kWow6432Node[] = L"Software\\Classes\\Wow6432Node";

struct Bitness {
    const char* name;
    std::wstring regsvr32;  // the system's regsvr32 of this bitness
    std::wstring library;   // as installed
    std::wstring host;      // thumbhost.exe of this bitness
};

bool KeyExists(const wchar_t* path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring SystemDirectory(UINT(WINAPI* get)(LPWSTR, UINT))
{
    wchar_t path[MAX_PATH] = {};
    get(path, MAX_PATH);
    return path;
}

class SideBySide : public testing::Test {
protected:
    void SetUp() override
    {
        // The installed layout: one folder, both libraries, the one renderer.
        m_folder = testing_support::TempDir() + L"\\TorvView";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        const std::wstring x86Bin = testing_support::TestDir() + L"\\" + TORV_X86_BIN_DIR;
        ASSERT_TRUE(Copy(tool_testing::BinDir() + L"\\torvthumb.dll", L"torvthumb.dll"));
        ASSERT_TRUE(Copy(x86Bin + L"\\torvthumb.dll", L"torvthumb32.dll"));
        ASSERT_TRUE(Copy(tool_testing::ViewerPath(), L"TorvView.exe"));

        m_x64 = {"x64", SystemDirectory(GetSystemDirectoryW) + L"\\regsvr32.exe", m_folder + L"\\torvthumb.dll",
                 tool_testing::HostPath()};
        m_x86 = {"x86", SystemDirectory(GetSystemWow64DirectoryW) + L"\\regsvr32.exe",
                 m_folder + L"\\torvthumb32.dll", x86Bin + L"\\thumbhost.exe"};

        ASSERT_TRUE(KeyExists(kWow6432Node, KEY_WOW64_64KEY)) << "the prefix has no 32-bit view of the user's classes";
    }

    void TearDown() override
    {
        for (const Bitness* bitness : {&m_x86, &m_x64}) {
            if (!bitness->regsvr32.empty()) {
                Regsvr32(*bitness, L"/u /s");
            }
        }
    }

    bool Copy(const std::wstring& from, const wchar_t* name) const
    {
        return CopyFileW(from.c_str(), (m_folder + L"\\" + name).c_str(), FALSE) != FALSE;
    }

    static DWORD Regsvr32(const Bitness& bitness, const std::wstring& flags)
    {
        return tool_testing::Run(Quote(bitness.regsvr32) + L" " + flags + L" " + Quote(bitness.library)).exitCode;
    }

    // The host on report.pdf; on standard error it names the handler's keys and DLL.
    static ProcessResult Thumbnail(const Bitness& bitness)
    {
        const std::wstring out = testing_support::TempDir() + L"\\out";
        return tool_testing::Run(Quote(bitness.host) + L" --verbose --out " + Quote(out) + L" report.pdf",
                                 tool_testing::SamplesDir());
    }

    static void ExpectThumbnailThrough(const Bitness& bitness)
    {
        SCOPED_TRACE(bitness.name);
        const ProcessResult run = Thumbnail(bitness);
        EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
        EXPECT_EQ(run.out.find("report.pdf: S_OK 0x00000000 181x256 WTSAT_RGB "), 0u) << run.out;
        EXPECT_NE(run.err.find("DLL \"" + tool_testing::Narrow(bitness.library) + "\""), std::string::npos)
            << "the host of each bitness loads the library of its bitness: " << run.err;
    }

    static void ExpectNoThumbnailThrough(const Bitness& bitness, const char* result)
    {
        SCOPED_TRACE(bitness.name);
        const ProcessResult run = Thumbnail(bitness);
        EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
        EXPECT_EQ(run.out.find(std::string("report.pdf: ") + result), 0u) << run.out;
    }

    std::wstring m_folder;
    Bitness m_x64;
    Bitness m_x86;
};

TEST_F(SideBySide, EachBitnessWorksUntilItIsUnregistered)
{
    const struct {
        const char* name;
        const Bitness* first;  // unregistered while the other stays
        const Bitness* last;
    } orders[] = {
        {"x86 unregistered first", &m_x86, &m_x64},
        {"x64 unregistered first", &m_x64, &m_x86},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order.name);
        ASSERT_EQ(Regsvr32(m_x64, L"/s"), 0u);
        ASSERT_EQ(Regsvr32(m_x86, L"/s"), 0u);
        ExpectThumbnailThrough(m_x64);
        ExpectThumbnailThrough(m_x86);

        // The registration that stays still needs the shared binding.
        ASSERT_EQ(Regsvr32(*order.first, L"/u /s"), 0u);
        ExpectThumbnailThrough(*order.last);
        ExpectNoThumbnailThrough(*order.first, "REGDB_E_CLASSNOTREG");

        ASSERT_EQ(Regsvr32(*order.last, L"/u /s"), 0u);
        for (const Bitness* bitness : {&m_x64, &m_x86}) {
            ExpectNoThumbnailThrough(*bitness, "HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION)");
        }
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            EXPECT_FALSE(KeyExists(kClassKey, view)) << "view " << view;
            EXPECT_FALSE(KeyExists(kBindingKey, view)) << "view " << view;
        }
    }
}

}  // namespace
