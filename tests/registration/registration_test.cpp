// Self-registration into a scratch HKEY_CURRENT_USER, and once for real through regsvr32.
#include "module/torvthumb.h"
#include "support/allocation_failure.h"
#include "support/registry_tree.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::wstring kClassKey = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
const std::wstring kInprocKey = kClassKey + L"\\InprocServer32";
const std::wstring kBindingKey = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

Tree RegisteredLayout(const std::wstring& modulePath)
{
    return Tree{
        {L"Software|<key>", {0, {}}},
        {L"Software\\Classes|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf\\ShellEx|<key>", {0, {}}},
        {kBindingKey + L"|<key>", {0, {}}},
        {kBindingKey + L"|<default>", Sz(L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}")},
        {L"Software\\Classes\\CLSID|<key>", {0, {}}},
        {kClassKey + L"|<key>", {0, {}}},
        {kClassKey + L"|<default>", Sz(L"TorvView Thumbnail Provider")},
        {kClassKey + L"|DisableProcessIsolation", {REG_DWORD, {1, 0, 0, 0}}},
        {kInprocKey + L"|<key>", {0, {}}},
        {kInprocKey + L"|<default>", Sz(modulePath)},
        {kInprocKey + L"|ThreadingModel", Sz(L"Apartment")},
    };
}

using Export = HRESULT(WINAPI*)();

Export ExportOf(HMODULE module, const char* name)
{
    return reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// In a test program the server's module is the program itself, so that is the file it registers.
std::wstring TestProgramPath()
{
    return ModuleFileName(nullptr);
}

TEST(Registration, WritesExactlyTheLayout)
{
    ScratchHkcu hkcu;
    EXPECT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(DumpHkcu(), RegisteredLayout(TestProgramPath()));
    EXPECT_EQ(Sz(L"Apartment").bytes.size(), 20u);
}

TEST(Registration, ModuleWithoutAFileNameRegistersTheFixedName)
{
    ScratchHkcu hkcu;
    const HINSTANCE saved = g_hInst;
    g_hInst = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000));  // names no module
    const HRESULT hr = DllRegisterServer();
    g_hInst = saved;
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(DumpHkcu(), RegisteredLayout(L"\\torvthumb.dll"));
}

TEST(Registration, RegisteringAgainKeepsOtherEntries)
{
    ScratchHkcu hkcu;
    SetRenderCommand(L"custom %1");
    CreateKey(kClassKey + L"\\Extra");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK);

    Tree expected = RegisteredLayout(TestProgramPath());
    expected[kClassKey + L"|RenderCommand"] = Sz(L"custom %1");
    expected[kClassKey + L"\\Extra|<key>"] = Value{0, {}};
    EXPECT_EQ(DumpHkcu(), expected);
}

TEST(Registration, UnregisterRemovesOnlyItsKeys)
{
    ScratchHkcu hkcu;
    ASSERT_EQ(DllRegisterServer(), S_OK);
    SetRenderCommand(L"custom");
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    // The class key goes with RenderCommand; .pdf and .pdf\ShellEx stay although registration made them.
    const Tree expected{
        {L"Software|<key>", {0, {}}},
        {L"Software\\Classes|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf\\ShellEx|<key>", {0, {}}},
        {L"Software\\Classes\\CLSID|<key>", {0, {}}},
    };
    EXPECT_EQ(DumpHkcu(), expected);
}

TEST(Registration, UnregisterWithNothingRegistered)
{
    ScratchHkcu hkcu;
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_TRUE(DumpHkcu().empty());
}

TEST(Registration, UnregisterKeepsClassKeyThatHasAnotherSubkey)
{
    ScratchHkcu hkcu;
    ASSERT_EQ(DllRegisterServer(), S_OK);
    SetRenderCommand(L"custom");
    CreateKey(kClassKey + L"\\Extra");
    EXPECT_EQ(DllUnregisterServer(), S_OK);

    const Tree tree = DumpHkcu();
    EXPECT_EQ(tree.count(kBindingKey + L"|<key>"), 0u);
    EXPECT_EQ(tree.count(kInprocKey + L"|<key>"), 0u);
    EXPECT_EQ(tree.at(kClassKey + L"|<default>"), Sz(L"TorvView Thumbnail Provider"));
    EXPECT_EQ(tree.at(kClassKey + L"|RenderCommand"), Sz(L"custom"));
    EXPECT_EQ(tree.count(kClassKey + L"|DisableProcessIsolation"), 1u);
}

// Copies of the built library, registered from where they were loaded under the name they have
// there: the installed 32-bit library is torvthumb32.dll beside the 64-bit torvthumb.dll.
TEST(Registration, MovedOrRenamedLibraryRegistersItsOwnFile)
{
    ScratchHkcu hkcu;
    const std::wstring built = TestDir() + L"\\..\\bin\\torvthumb.dll";
    struct Copy {
        const wchar_t* directory;
        const wchar_t* fileName;
    };
    const Copy copies[] = {{L"first", L"torvthumb.dll"}, {L"second place", L"torvthumb32.dll"}};
    for (const Copy& copy : copies) {
        const std::wstring directory = TempDir() + L"\\" + copy.directory;
        CreateDirectoryW(directory.c_str(), nullptr);
        const std::wstring library = directory + L"\\" + copy.fileName;
        ASSERT_TRUE(CopyFileW(built.c_str(), library.c_str(), FALSE));
        HMODULE module = LoadLibraryW(library.c_str());
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(ExportOf(module, "DllRegisterServer")(), S_OK);
        FreeLibrary(module);
        EXPECT_EQ(DumpHkcu(), RegisteredLayout(library)) << "copy in " << copy.directory;
    }
}

// Without memory for the key paths the exports report it and write nothing further.
TEST(Registration, OutOfMemoryIsReported)
{
    ScratchHkcu hkcu;
    {
        FailAllocation fail(0);
        EXPECT_EQ(DllRegisterServer(), E_OUTOFMEMORY);
    }
    EXPECT_TRUE(DumpHkcu().empty());
    ASSERT_EQ(DllRegisterServer(), S_OK);
    {
        FailAllocation fail(0);
        EXPECT_EQ(DllUnregisterServer(), E_OUTOFMEMORY);
    }
    EXPECT_EQ(DumpHkcu(), RegisteredLayout(TestProgramPath()));
}

// Both bitnesses registered side by side. A 32-bit process sees the per-user classes through its
// own view of the registry (on 64-bit Windows its CLSID is Software\Classes\Wow6432Node\CLSID),
// while the .pdf binding is shared. This program plays one bitness and writes the other's
// registration into the other view, as that library's DllRegisterServer would.
#ifdef _WIN64
const REGSAM kOtherView = KEY_WOW64_32KEY;
const wchar_t kOtherLibrary[] = L"C:\\Program Files\\TorvView\\torvthumb32.dll";
#else
const REGSAM kOtherView = KEY_WOW64_64KEY;
const wchar_t kOtherLibrary[] = L"C:\\Program Files\\TorvView\\torvthumb.dll";
#endif

void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const Value value = Sz(text);
    RegSetValueExW(key, name, 0, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    RegCloseKey(key);
}

void OtherBitnessRegisters()
{
    SetText(kClassKey, nullptr, L"TorvView Thumbnail Provider", kOtherView);
    SetText(kInprocKey, nullptr, kOtherLibrary, kOtherView);
    SetText(kInprocKey, L"ThreadingModel", L"Apartment", kOtherView);
    SetText(kBindingKey, nullptr, L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}", KEY_WOW64_64KEY);
}

// What the other library's DllUnregisterServer removes while this bitness is still registered.
void OtherBitnessUnregisters()
{
    RegDeleteKeyExW(HKEY_CURRENT_USER, kInprocKey.c_str(), kOtherView, 0);
    RegDeleteKeyExW(HKEY_CURRENT_USER, kClassKey.c_str(), kOtherView, 0);
}

// Keys and values whose path or data names our class or the thumbnail handler binding.
std::vector<std::wstring> EntriesOfOurs(const Tree& tree)
{
    const Value clsid = Sz(L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}");
    std::vector<std::wstring> ours;
    for (const auto& entry : tree) {
        if (entry.first.find(L"{5B1E2C47") != std::wstring::npos || entry.first.find(L"{e357fccd") != std::wstring::npos
            || entry.second == clsid) {
            ours.push_back(entry.first);
        }
    }
    return ours;
}

// A scratch HKEY_CURRENT_USER with what every 64-bit Windows user's classes have: a Wow6432Node
// subkey, the home of the 32-bit view. Wine gives a 32-bit view only below keys that have one.
struct SideBySideHkcu {
    SideBySideHkcu() { CreateKey(L"Software\\Classes\\Wow6432Node", KEY_WOW64_64KEY); }
    ScratchHkcu hkcu;
};

TEST(SideBySide, EachBitnessRegistersInItsOwnView)
{
    SideBySideHkcu hkcu;
    OtherBitnessRegisters();
    const Tree otherBefore = DumpKey(kClassKey, kOtherView);
    ASSERT_EQ(otherBefore.at(kInprocKey + L"|<default>"), Sz(kOtherLibrary));

    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(DumpKey(kClassKey, kOtherView), otherBefore) << "registering one bitness left the other alone";
    EXPECT_EQ(DumpKey(kInprocKey, 0).at(kInprocKey + L"|<default>"), Sz(TestProgramPath()));
    EXPECT_EQ(DumpKey(kBindingKey, KEY_WOW64_64KEY).at(kBindingKey + L"|<default>"),
              Sz(L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}"));
}

TEST(SideBySide, BindingStaysUntilTheLastBitnessUnregisters)
{
    struct Case {
        const char* name;
        bool otherUnregistersFirst;
    };
    const Case cases[] = {
        {"this bitness unregisters while the other stays", false},
        {"this bitness is the last to unregister", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SideBySideHkcu hkcu;
        OtherBitnessRegisters();
        ASSERT_EQ(DllRegisterServer(), S_OK);
        const Tree other = DumpKey(kClassKey, kOtherView);
        if (c.otherUnregistersFirst) {
            OtherBitnessUnregisters();
        }

        EXPECT_EQ(DllUnregisterServer(), S_OK);

        EXPECT_TRUE(DumpKey(kClassKey, 0).empty()) << "this bitness's class key is gone";
        if (c.otherUnregistersFirst) {
            EXPECT_EQ(EntriesOfOurs(DumpHkcu(KEY_WOW64_64KEY)), std::vector<std::wstring>());
            EXPECT_EQ(EntriesOfOurs(DumpHkcu(KEY_WOW64_32KEY)), std::vector<std::wstring>());
        } else {
            EXPECT_EQ(DumpKey(kClassKey, kOtherView), other) << "the other bitness's class stays whole";
            EXPECT_EQ(DumpKey(kBindingKey, KEY_WOW64_64KEY).count(kBindingKey + L"|<default>"), 1u)
                << "the other bitness still needs the binding";
        }
    }
}

// regsvr32 in this prefix writes the real HKEY_CURRENT_USER, whose classes have the 32-bit view that
// every prefix is given; the test removes what it wrote. The binding is read where both bitnesses
// share it on Windows.
TEST(Registration, Regsvr32RegistersAndUnregistersForTheUser)
{
    const std::wstring library = FullPath(TestDir() + L"\\..\\bin\\torvthumb.dll");
    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + library + L"\""), 0u);

    Tree tree;
    DumpTree(HKEY_CURRENT_USER, kClassKey, tree);
    DumpTree(HKEY_CURRENT_USER, kBindingKey, tree, KEY_WOW64_64KEY);
    EXPECT_EQ(tree.at(kInprocKey + L"|<default>"), Sz(library));
    EXPECT_EQ(tree.at(kInprocKey + L"|ThreadingModel"), Sz(L"Apartment"));
    EXPECT_EQ(tree.at(kBindingKey + L"|<default>"), Sz(L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}"));
    Tree otherView;
    DumpTree(HKEY_CURRENT_USER, kClassKey, otherView, kOtherView);
    EXPECT_TRUE(otherView.empty()) << "the other bitness's view of the class is not this library's";
    Tree machine;
    DumpTree(HKEY_LOCAL_MACHINE, kClassKey, machine);
    EXPECT_TRUE(machine.empty()) << "registration is per user only";

    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s /u \"" + library + L"\""), 0u);
    Tree after;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        DumpTree(HKEY_CURRENT_USER, kClassKey, after, view);
        DumpTree(HKEY_CURRENT_USER, kBindingKey, after, view);
    }
    EXPECT_TRUE(after.empty());
}

}  // namespace
