// The preview handler's self-registration into a scratch HKEY_CURRENT_USER, beside the thumbnail
// DLL's, and once for real through regsvr32 with both built DLLs.
#include "preview/preview_module.h"
#include "shared/module_file.h"
#include "support/allocation_failure.h"
#include "support/registry_tree.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::wstring kClsid = L"{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}";
const std::wstring kClassKey = L"Software\\Classes\\CLSID\\" + kClsid;
const std::wstring kInprocKey = kClassKey + L"\\InprocServer32";
const std::wstring kBindingKey = L"Software\\Classes\\.pdf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
const std::wstring kHandlersKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";
const std::wstring kThumbnailClassKey = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
#ifdef _WIN64
const wchar_t kSurrogate[] = L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}";
const REGSAM kOtherView = KEY_WOW64_32KEY;
#else
const wchar_t kSurrogate[] = L"{534A1E02-D58F-44f0-B58B-36CBED287C7C}";
const REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

Tree RegisteredLayout(const std::wstring& modulePath)
{
    return Tree{
        {L"Software|<key>", {0, {}}},
        {L"Software\\Classes|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf|<key>", {0, {}}},
        {L"Software\\Classes\\.pdf\\ShellEx|<key>", {0, {}}},
        {kBindingKey + L"|<key>", {0, {}}},
        {kBindingKey + L"|<default>", Sz(kClsid)},
        {L"Software\\Classes\\CLSID|<key>", {0, {}}},
        {kClassKey + L"|<key>", {0, {}}},
        {kClassKey + L"|<default>", Sz(L"TorvView Preview Handler")},
        {kClassKey + L"|AppID", Sz(kSurrogate)},
        {kInprocKey + L"|<key>", {0, {}}},
        {kInprocKey + L"|<default>", Sz(modulePath)},
        {kInprocKey + L"|ThreadingModel", Sz(L"Apartment")},
        {L"Software\\Microsoft|<key>", {0, {}}},
        {L"Software\\Microsoft\\Windows|<key>", {0, {}}},
        {L"Software\\Microsoft\\Windows\\CurrentVersion|<key>", {0, {}}},
        {kHandlersKey + L"|<key>", {0, {}}},
        {kHandlersKey + L"|" + kClsid, Sz(L"TorvView Preview Handler")},
    };
}

// In a test program the server's module is the program itself, so that is the file it registers.
std::wstring TestProgramPath()
{
    return ModuleFileName(nullptr);
}

// The keys that registration makes and unregistration leaves, empty, as the thumbnail DLL's does.
const Tree kParentsLeft{
    {L"Software|<key>", {0, {}}},
    {L"Software\\Classes|<key>", {0, {}}},
    {L"Software\\Classes\\.pdf|<key>", {0, {}}},
    {L"Software\\Classes\\.pdf\\ShellEx|<key>", {0, {}}},
    {L"Software\\Classes\\CLSID|<key>", {0, {}}},
    {L"Software\\Microsoft|<key>", {0, {}}},
    {L"Software\\Microsoft\\Windows|<key>", {0, {}}},
    {L"Software\\Microsoft\\Windows\\CurrentVersion|<key>", {0, {}}},
    {kHandlersKey + L"|<key>", {0, {}}},
};

TEST(PreviewRegistration, WritesExactlyTheLayout)
{
    ScratchHkcu hkcu;
    EXPECT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(DumpHkcu(), RegisteredLayout(TestProgramPath()));
}

TEST(PreviewRegistration, ModuleWithoutAFileNameRegistersTheFixedName)
{
    ScratchHkcu hkcu;
    const HINSTANCE saved = g_previewInstance;
    g_previewInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000));  // names no module
    const HRESULT hr = DllRegisterServer();
    g_previewInstance = saved;
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(DumpHkcu(), RegisteredLayout(L"\\torvpreview.dll"));
}

TEST(PreviewRegistration, RegisteringAgainKeepsRenderCommandAndUnregisterRemovesExactlyItsOwn)
{
    ScratchHkcu hkcu;
    SetRenderCommand(L"custom %1");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    Tree expected = RegisteredLayout(TestProgramPath());
    expected[kClassKey + L"|RenderCommand"] = Sz(L"custom %1");
    EXPECT_EQ(DumpHkcu(), expected);

    // Another handler's entry in the list stays.
    HKEY handlers = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kHandlersKey.c_str(), 0, KEY_SET_VALUE, &handlers), ERROR_SUCCESS);
    const Value other = Sz(L"Another Preview Handler");
    RegSetValueExW(handlers, L"{00000000-1111-2222-3333-444444444444}", 0, REG_SZ, other.bytes.data(),
                   static_cast<DWORD>(other.bytes.size()));
    RegCloseKey(handlers);

    EXPECT_EQ(DllUnregisterServer(), S_OK);
    Tree left = kParentsLeft;
    left[kHandlersKey + L"|{00000000-1111-2222-3333-444444444444}"] = other;
    EXPECT_EQ(DumpHkcu(), left);
    EXPECT_EQ(DllUnregisterServer(), S_OK) << "again, with nothing registered";
    EXPECT_EQ(DumpHkcu(), left);
}

TEST(PreviewRegistration, OutOfMemoryIsReported)
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

using Export = HRESULT(WINAPI*)();

// The built thumbnail DLL, loaded, with its own registration exports.
class ThumbnailLibrary {
public:
    ThumbnailLibrary() : m_module(LoadLibraryW(FullPath(TestDir() + L"\\..\\bin\\torvthumb.dll").c_str())) {}
    ~ThumbnailLibrary() { FreeLibrary(m_module); }
    bool Loaded() const { return m_module != nullptr; }
    HRESULT Call(const char* name) const
    {
        return reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(m_module, name)))();
    }

private:
    HMODULE m_module;
};

TEST(PreviewRegistration, LeavesTheThumbnailRegistrationUntouchedAndTheOtherWayRound)
{
    ThumbnailLibrary thumbnail;
    ASSERT_TRUE(thumbnail.Loaded());
    struct Case {
        const char* name;
        bool previewFirst;
    };
    for (const Case& c : {Case{"thumbnail registered first", false}, Case{"preview registered first", true}}) {
        SCOPED_TRACE(c.name);
        ScratchHkcu hkcu;
        const auto registerFirst = [&] { return c.previewFirst ? DllRegisterServer() : thumbnail.Call("DllRegisterServer"); };
        const auto registerSecond = [&] { return c.previewFirst ? thumbnail.Call("DllRegisterServer") : DllRegisterServer(); };
        const auto unregisterSecond = [&] {
            return c.previewFirst ? thumbnail.Call("DllUnregisterServer") : DllUnregisterServer();
        };
        ASSERT_EQ(registerFirst(), S_OK);
        const Tree first = DumpHkcu();
        ASSERT_EQ(registerSecond(), S_OK);
        // Everything the first wrote is there as it was.
        const Tree both = DumpHkcu();
        for (const auto& entry : first) {
            ASSERT_EQ(both.count(entry.first), 1u) << entry.first;
            EXPECT_EQ(both.at(entry.first), entry.second) << entry.first;
        }
        ASSERT_EQ(unregisterSecond(), S_OK);
        // The second's parents, which the first did not need, are left empty as the DLLs leave them.
        Tree after = DumpHkcu();
        for (const auto& entry : kParentsLeft) {
            if (first.count(entry.first) == 0) {
                after.erase(entry.first);
            }
        }
        EXPECT_EQ(after, first);
    }
}

// Both bitnesses: this program plays one, and writes the other's registration into the other view
// of a scratch HKEY_CURRENT_USER that has a Wow6432Node, as 64-bit Windows has.
struct SideBySideHkcu {
    SideBySideHkcu() { CreateKey(L"Software\\Classes\\Wow6432Node", KEY_WOW64_64KEY); }
    ScratchHkcu hkcu;
};

void OtherBitnessRegisters()
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInprocKey.c_str(), 0, nullptr, 0, KEY_WRITE | kOtherView, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const Value path = Sz(L"C:\\Program Files\\TorvView\\other-bitness.dll");
    RegSetValueExW(key, nullptr, 0, REG_SZ, path.bytes.data(), static_cast<DWORD>(path.bytes.size()));
    RegCloseKey(key);
}

TEST(PreviewSideBySide, SharedEntriesStayUntilTheLastBitnessUnregisters)
{
    for (const bool otherStays : {true, false}) {
        SCOPED_TRACE(otherStays ? "the other bitness stays registered" : "this bitness is the last");
        SideBySideHkcu hkcu;
        OtherBitnessRegisters();
        ASSERT_EQ(DllRegisterServer(), S_OK);
        const Tree other = DumpKey(kClassKey, kOtherView);
        ASSERT_EQ(other.count(kInprocKey + L"|<default>"), 1u);
        if (!otherStays) {
            RegDeleteKeyExW(HKEY_CURRENT_USER, kInprocKey.c_str(), kOtherView, 0);
            RegDeleteKeyExW(HKEY_CURRENT_USER, kClassKey.c_str(), kOtherView, 0);
        }
        EXPECT_EQ(DllUnregisterServer(), S_OK);
        EXPECT_TRUE(DumpKey(kClassKey, 0).empty()) << "this bitness's class key is gone";
        const Tree binding = DumpKey(kBindingKey, KEY_WOW64_64KEY);
        const Tree handlers = DumpKey(kHandlersKey, KEY_WOW64_64KEY);
        EXPECT_EQ(binding.count(kBindingKey + L"|<default>"), otherStays ? 1u : 0u);
        EXPECT_EQ(handlers.count(kHandlersKey + L"|" + kClsid), otherStays ? 1u : 0u);
        if (otherStays) {
            EXPECT_EQ(DumpKey(kClassKey, kOtherView), other) << "the other bitness's class stays whole";
        }
    }
}

// regsvr32 in this prefix writes the real HKEY_CURRENT_USER; both built DLLs register and
// unregister there, each leaving the other's registration as it was.
TEST(PreviewRegistration, Regsvr32WithBothLibraries)
{
    const std::wstring preview = FullPath(TestDir() + L"\\..\\bin\\torvpreview.dll");
    const std::wstring thumbnail = FullPath(TestDir() + L"\\..\\bin\\torvthumb.dll");
    const auto thumbnailEntries = [] {
        Tree tree;
        DumpTree(HKEY_CURRENT_USER, kThumbnailClassKey, tree);
        DumpTree(HKEY_CURRENT_USER, L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", tree,
                 KEY_WOW64_64KEY);
        return tree;
    };
    const auto previewEntries = [] {
        Tree tree;
        DumpTree(HKEY_CURRENT_USER, kClassKey, tree);
        DumpTree(HKEY_CURRENT_USER, kBindingKey, tree, KEY_WOW64_64KEY);
        Tree handlers;
        DumpTree(HKEY_CURRENT_USER, kHandlersKey, handlers, KEY_WOW64_64KEY);
        if (handlers.count(kHandlersKey + L"|" + kClsid)) {
            tree[kHandlersKey + L"|" + kClsid] = handlers.at(kHandlersKey + L"|" + kClsid);
        }
        return tree;
    };
    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + thumbnail + L"\""), 0u);
    const Tree thumbnailBefore = thumbnailEntries();
    ASSERT_FALSE(thumbnailBefore.empty());

    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + preview + L"\""), 0u);
    const Tree registered = previewEntries();
    EXPECT_EQ(registered.at(kInprocKey + L"|<default>"), Sz(preview));
    EXPECT_EQ(registered.at(kInprocKey + L"|ThreadingModel"), Sz(L"Apartment"));
    EXPECT_EQ(registered.at(kClassKey + L"|AppID"), Sz(kSurrogate));
    EXPECT_EQ(registered.at(kBindingKey + L"|<default>"), Sz(kClsid));
    EXPECT_EQ(registered.at(kHandlersKey + L"|" + kClsid), Sz(L"TorvView Preview Handler"));
    EXPECT_EQ(thumbnailEntries(), thumbnailBefore);

    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s /u \"" + thumbnail + L"\""), 0u);
    EXPECT_EQ(previewEntries(), registered) << "the thumbnail's unregistration leaves the preview's";
    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + thumbnail + L"\""), 0u);

    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s /u \"" + preview + L"\""), 0u);
    EXPECT_TRUE(previewEntries().empty());
    EXPECT_EQ(thumbnailEntries(), thumbnailBefore);
    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s /u \"" + thumbnail + L"\""), 0u);
    EXPECT_TRUE(thumbnailEntries().empty());
}

}  // namespace
