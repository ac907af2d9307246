// Many previews in a row leak nothing: handles, GDI objects, private memory, temporary files,
// renderer processes, the view's window class.
#include "preview/preview_module.h"
#include "preview_support.h"
#include "stress/stress_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace preview_testing;

namespace {

constexpr DWORD kPaintWaitMs = 20000;
// Heap pages the platform keeps for itself after the first rounds.
constexpr uint64_t kPrivateSlackBytes = 256 * 1024;

enum class Ending { Painted, DuringRender };

// One preview: initialise (path or stream), show, resize many times, then Unload, either once the
// pages are painted or while the renderer still draws.
void OnePreview(int round, Ending ending, const std::wstring& document)
{
    PaneHost host(500, 600);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_TRUE(handler);
    if (round % 2 == 0) {
        ASSERT_EQ(InitializeWithFile(handler.get(), document), S_OK);
    } else {
        ASSERT_EQ(InitializeWithStream(handler.get(), FileStream(document).get()), S_OK);
    }
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    if (ending == Ending::DuringRender) {
        ASSERT_TRUE(WaitForChildren(host, 1, 10000));
        host.Detach();
        return;
    }
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    for (int size = 0; size < 40; ++size) {
        ASSERT_EQ(host.Resize(300 + (size * 37) % 400, 300 + (size * 53) % 500), S_OK);
        host.Pump(0);
    }
    host.PressKey(VK_NEXT);
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    host.Detach();
}

TEST(PreviewCycles, RepeatedPreviewsAndResizesLeakNothing)
{
    Apartment apartment;
    ScratchHkcu hkcu;
    UseTestPageRenderer();
    const std::wstring document = WriteDocument(L"cycles.pdf", "pages 6 612 792\n");
    const std::wstring slow = WriteDocument(L"cycles-slow.pdf", "pages 6 612 792\nsleep 60000\n");

    // The first rounds let the platform make what it keeps: its apartment, classes, heaps.
    for (int round = 0; round < 3; ++round) {
        OnePreview(round, Ending::Painted, document);
    }
    const stress::Resources before = stress::Resources::Now();
    const long rounds = stress::CountFrom("TORV_PREVIEW_CYCLES", 30);
    for (long round = 0; round < rounds; ++round) {
        const bool duringRender = round % 5 == 4;
        OnePreview(static_cast<int>(round), duringRender ? Ending::DuringRender : Ending::Painted,
                   duringRender ? slow : document);
        if (HasFatalFailure()) {
            return;
        }
    }
    const stress::Resources after = stress::Resources::Now();
    std::printf("%ld previews, each resized 40 times; before: %s; after: %s\n", rounds,
                stress::Describe(before).c_str(), stress::Describe(after).c_str());
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateSlackBytes);
    EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>());
    EXPECT_EQ(LiveChildren(), 0);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    WNDCLASSEXW viewClass{};
    viewClass.cbSize = sizeof(viewClass);
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"TorvViewPreviewPane", &viewClass))
        << "the view's class goes with its last window";
}

}  // namespace
