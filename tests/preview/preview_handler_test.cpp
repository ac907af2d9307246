// The handler object: its interfaces, its class object, and the lifecycle of a preview handler in
// every order a host may call it.
#include "preview/preview_module.h"
#include "preview_support.h"
#include "support/allocation_failure.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testing_support;
using namespace preview_testing;

namespace {

constexpr DWORD kPaintWaitMs = 20000;
void* const kUntouched = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A));

class HandlerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(DllCanUnloadNow(), S_OK) << "a previous test left an object alive";
        UseTestPageRenderer();
    }
    void TearDown() override
    {
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object or lock outlived the test";
        EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>());
        EXPECT_EQ(LiveChildren(), 0);
    }

    Apartment m_apartment;
    ScratchHkcu m_hkcu;
};

TEST_F(HandlerTest, EveryInterfaceLeadsToOneIdentity)
{
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_TRUE(handler);
    const IID* const interfaces[] = {&IID_IUnknown,          &IID_IPreviewHandler, &IID_IInitializeWithStream,
                                     &IID_IInitializeWithFile, &IID_IObjectWithSite, &IID_IOleWindow,
                                     &IID_IPreviewHandlerVisuals};
    ComPtr<IUnknown> identity;
    ASSERT_EQ(handler->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    for (const IID* from : interfaces) {
        ComPtr<IUnknown> source;
        ASSERT_EQ(handler->QueryInterface(*from, source.put_void()), S_OK);
        for (const IID* to : interfaces) {
            ComPtr<IUnknown> target;
            ASSERT_EQ(source->QueryInterface(*to, target.put_void()), S_OK);
            ComPtr<IUnknown> back;
            ASSERT_EQ(target->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
            EXPECT_EQ(back.get(), identity.get());
        }
        void* out = kUntouched;
        EXPECT_EQ(source->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(source->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    }
}

TEST_F(HandlerTest, ClassObjectFollowsTheServerRules)
{
    ComPtr<IClassFactory> factory;
    void* out = kUntouched;
    EXPECT_EQ(DllGetClassObject(IID_IPreviewHandler, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(DllGetClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a class object holds the server";
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.put_void()), S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, aggregated.put_void()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    outer.reset();
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a lock holds the server";
    ASSERT_EQ(DllGetClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
}

TEST_F(HandlerTest, OutOfMemoryWhileCreatingIsReported)
{
    ComPtr<IClassFactory> factory;
    {
        FailAllocation fail(0);
        EXPECT_EQ(DllGetClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()), E_OUTOFMEMORY);
    }
    ASSERT_EQ(DllGetClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IPreviewHandler> handler;
    {
        FailAllocation fail(0);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPreviewHandler, handler.put_void()), E_OUTOFMEMORY);
    }
    EXPECT_FALSE(handler);
}

TEST_F(HandlerTest, InitializeKeepsOneDocumentUntilUnload)
{
    ComPtr<IPreviewHandler> handler = NewHandler();
    const std::wstring document = WriteDocument(L"one.pdf", "pages 1 612 792\n");
    EXPECT_EQ(InitializeWithFile(handler.get(), L""), E_INVALIDARG);
    EXPECT_EQ(InitializeWithStream(handler.get(), nullptr), E_INVALIDARG);
    ComPtr<IInitializeWithFile> withFile;
    ASSERT_EQ(handler.As(withFile), S_OK);
    EXPECT_EQ(withFile->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    EXPECT_EQ(handler->DoPreview(), E_UNEXPECTED) << "nothing to preview yet";

    ASSERT_EQ(InitializeWithFile(handler.get(), document), S_OK);
    EXPECT_EQ(InitializeWithFile(handler.get(), document), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(InitializeWithStream(handler.get(), FileStream(document).get()),
              HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(handler->Unload(), S_OK);
    EXPECT_EQ(InitializeWithStream(handler.get(), FileStream(document).get()), S_OK) << "again after Unload";
}

TEST_F(HandlerTest, NothingIsReadBeforeDoPreview)
{
    PageLog log;
    PaneHost host(400, 400);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"one.pdf", "pages 1 612 792\n")), S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    host.Pump(500);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(host.View(), nullptr) << "no window before DoPreview";
}

// Each order ends in a preview of the document, painted, with its first page in view.
TEST_F(HandlerTest, TheLifecycleInEveryOrderAHostUses)
{
    struct Order {
        const char* name;
        std::function<void(IPreviewHandler*, PaneHost&, const std::wstring&)> steps;
        size_t rendersOfPageOne;  // once per width it was shown at
    };
    const auto initialize = [](IPreviewHandler* handler, const std::wstring& document) {
        ASSERT_EQ(InitializeWithFile(handler, document), S_OK);
    };
    const Order orders[] = {
        {"SetWindow, DoPreview, SetRect",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             RECT small{0, 0, 300, 300};
             ASSERT_EQ(h->SetWindow(host.Window(), &small), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
             ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
             RECT rect{0, 0, 400, 400};
             ASSERT_EQ(h->SetRect(&rect), S_OK);
         },
         2},
        {"SetRect before SetWindow",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             RECT rect{0, 0, 300, 300};
             ASSERT_EQ(h->SetRect(&rect), S_OK);
             ASSERT_EQ(host.Attach(h), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
         },
         1},
        {"DoPreview before any window",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             ASSERT_EQ(h->DoPreview(), S_OK);
             host.Pump(300);
             ASSERT_EQ(host.View(), nullptr);
             ASSERT_EQ(host.Attach(h), S_OK);
         },
         1},
        {"DoPreview twice",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             ASSERT_EQ(host.Attach(h), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
         },
         1},
        {"Unload twice, then initialised again",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             ASSERT_EQ(host.Attach(h), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
             ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
             ASSERT_EQ(h->Unload(), S_OK);
             ASSERT_EQ(h->Unload(), S_OK);
             ASSERT_EQ(host.View(), nullptr);
             initialize(h, d);
             ASSERT_EQ(h->DoPreview(), S_OK);
         },
         2},
        {"SetWindow again, with another parent",
         [&](IPreviewHandler* h, PaneHost& host, const std::wstring& d) {
             initialize(h, d);
             PaneHost first(200, 200);
             RECT small{0, 0, 200, 200};
             ASSERT_EQ(h->SetWindow(first.Window(), &small), S_OK);
             ASSERT_EQ(h->DoPreview(), S_OK);
             ASSERT_TRUE(first.WaitForPainted(kPaintWaitMs).painted);
             ASSERT_EQ(host.Attach(h), S_OK);
             ASSERT_EQ(first.View(), nullptr);
             ASSERT_NE(host.View(), nullptr);
         },
         2},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        PageLog log;
        PaneHost host(400, 400);
        ComPtr<IPreviewHandler> handler = NewHandler();
        const std::wstring document = WriteDocument(L"order.pdf", "pages 2 300 300\n");
        order.steps(handler.get(), host, document);
        if (HasFatalFailure()) {
            return;
        }
        const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
        EXPECT_TRUE(painted.painted);
        EXPECT_EQ(painted.firstPage, 1u);
        RECT client{};
        GetClientRect(host.View(), &client);
        EXPECT_EQ(client.bottom, 400) << "the view fills the rectangle given last";
        host.Pump(500);
        const std::vector<unsigned> pages = log.Pages();
        EXPECT_EQ(static_cast<size_t>(std::count(pages.begin(), pages.end(), 1u)), order.rendersOfPageOne);
        host.Detach();
    }
}

TEST_F(HandlerTest, NullArgumentsAreRefused)
{
    ComPtr<IPreviewHandler> handler = NewHandler();
    RECT rect{0, 0, 10, 10};
    EXPECT_EQ(handler->SetWindow(nullptr, &rect), E_INVALIDARG);
    PaneHost host(100, 100);
    EXPECT_EQ(handler->SetWindow(host.Window(), nullptr), E_INVALIDARG);
    EXPECT_EQ(handler->SetRect(nullptr), E_INVALIDARG);
    EXPECT_EQ(handler->QueryFocus(nullptr), E_INVALIDARG);
    EXPECT_EQ(handler->TranslateAccelerator(nullptr), E_INVALIDARG);
    ComPtr<IOleWindow> window;
    ASSERT_EQ(handler.As(window), S_OK);
    EXPECT_EQ(window->GetWindow(nullptr), E_INVALIDARG);
    ComPtr<IPreviewHandlerVisuals> visuals;
    ASSERT_EQ(handler.As(visuals), S_OK);
    EXPECT_EQ(visuals->SetFont(nullptr), E_INVALIDARG);
}

TEST_F(HandlerTest, SiteWindowAndFocus)
{
    PaneHost host(400, 400);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(handler.As(withSite), S_OK);
    void* out = kUntouched;
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"one.pdf", "pages 1 612 792\n")), S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ComPtr<IPreviewHandlerFrame> frame;
    EXPECT_EQ(withSite->GetSite(IID_IPreviewHandlerFrame, frame.put_void()), S_OK);
    EXPECT_TRUE(frame);
    ComPtr<IOleWindow> window;
    ASSERT_EQ(handler.As(window), S_OK);
    HWND parent = nullptr;
    EXPECT_EQ(window->GetWindow(&parent), S_OK);
    EXPECT_EQ(parent, host.Window());
    EXPECT_EQ(window->ContextSensitiveHelp(TRUE), E_NOTIMPL);

    EXPECT_EQ(handler->SetFocus(), S_FALSE) << "no view to focus before DoPreview";
    ASSERT_EQ(handler->DoPreview(), S_OK);
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    EXPECT_EQ(handler->SetFocus(), S_OK);
    HWND focused = nullptr;
    EXPECT_EQ(handler->QueryFocus(&focused), S_OK);
    EXPECT_EQ(focused, host.View());
}

TEST_F(HandlerTest, KeysTheViewDoesNotUseGoToTheFrame)
{
    PaneHost host(400, 400);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"one.pdf", "pages 4 612 792\n")), S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    struct Key {
        UINT message;
        WPARAM key;
        bool view;  // the view's own key: S_FALSE, so the host dispatches it to the view
    };
    const Key keys[] = {
        {WM_KEYDOWN, VK_NEXT, true},  {WM_KEYUP, VK_NEXT, true},     {WM_KEYDOWN, VK_HOME, true},
        {WM_KEYDOWN, VK_DOWN, true},  {WM_KEYDOWN, VK_TAB, false},   {WM_KEYDOWN, VK_F5, false},
        {WM_KEYDOWN, 'A', false},     {WM_SYSKEYDOWN, VK_F4, false}, {WM_CHAR, 'a', false},
    };
    for (const Key& key : keys) {
        MSG message{};
        message.hwnd = host.View();
        message.message = key.message;
        message.wParam = key.key;
        const size_t before = host.KeysAtFrame().size();
        EXPECT_EQ(handler->TranslateAccelerator(&message), S_FALSE) << "key " << key.key;
        ASSERT_EQ(host.KeysAtFrame().size(), before + (key.view ? 0 : 1)) << "key " << key.key;
        if (!key.view) {
            EXPECT_EQ(host.KeysAtFrame().back().wParam, key.key);
            EXPECT_EQ(host.KeysAtFrame().back().message, key.message);
        }
    }
    // Without a site there is no frame to hand keys to.
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(handler.As(withSite), S_OK);
    ASSERT_EQ(withSite->SetSite(nullptr), S_OK);
    MSG tab{};
    tab.message = WM_KEYDOWN;
    tab.wParam = VK_TAB;
    const size_t before = host.KeysAtFrame().size();
    EXPECT_EQ(handler->TranslateAccelerator(&tab), S_FALSE);
    EXPECT_EQ(host.KeysAtFrame().size(), before);
}

TEST_F(HandlerTest, ReleasingWithoutUnloadEndsEverything)
{
    PaneHost host(400, 400);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(InitializeWithStream(handler.get(), ApartmentStream("sleep 60000\n").get()), S_OK);
    RECT rect{0, 0, 400, 400};
    ASSERT_EQ(handler->SetWindow(host.Window(), &rect), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    ASSERT_TRUE(WaitForChildren(host, 1, 10000));
    handler.reset();
    EXPECT_EQ(LiveChildren(), 0);
    EXPECT_EQ(host.View(), nullptr);
}

using CanUnloadNow = HRESULT(WINAPI*)();
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

// The built torvpreview.dll as a host loads it: its exports, a preview through it, and its unloading
// once everything is released, which its worker thread (holding the library while it runs) allows.
TEST_F(HandlerTest, TheBuiltLibraryPreviewsAndUnloads)
{
    wchar_t path[MAX_PATH] = {};
    GetFullPathNameW((TestDir() + L"\\..\\bin\\torvpreview.dll").c_str(), MAX_PATH, path, nullptr);
    HMODULE module = LoadLibraryW(path);
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
        void* byName = reinterpret_cast<void*>(GetProcAddress(module, names[ordinal - 1]));
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(reinterpret_cast<void*>(
                      GetProcAddress(module, reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal)))),
                  byName);
    }
    const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(module, names[0])));
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, names[1])));
    {
        PaneHost host(400, 500);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_TorvPreview, IID_IClassFactory, factory.put_void()), S_OK);
        ComPtr<IPreviewHandler> handler;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPreviewHandler, handler.put_void()), S_OK);
        factory.reset();
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"dll.pdf", "pages 2 612 792\n")), S_OK);
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
        EXPECT_TRUE(painted.painted);
        EXPECT_EQ(painted.firstPage, 1u);
        host.Detach();
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_TRUE(FreeLibrary(module));
    // The worker thread let go of the library as it ended.
    for (int i = 0; i < 50 && GetModuleHandleW(path); ++i) {
        Sleep(20);
    }
    EXPECT_EQ(GetModuleHandleW(path), nullptr) << "the library stayed loaded";
}

}  // namespace
