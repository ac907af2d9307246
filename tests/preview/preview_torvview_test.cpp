// The pane with the real renderer, TorvView.exe: what it shows is the renderer's own page at the
// pane's width, for pages of every size and orientation, by path and by stream, far into a long
// document; and what the renderer refuses, the pane says in words, answering messages meanwhile.
#include "preview/page_layout.h"
#include "preview/page_list.h"
#include "preview/preview_error.h"
#include "preview/preview_module.h"
#include "preview_support.h"
#include "shared/renderer_process.h"
#include "shared/result_file.h"
#include "shared/temp_file.h"
#include "shared/unique_resource.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testing_support;
using namespace preview_testing;

namespace {

constexpr DWORD kPaintWaitMs = 40000;

std::wstring BinDir()
{
    const std::wstring tests = TestDir();
    return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin";
}

std::wstring Document(const std::wstring& name)
{
    return TestDir() + L"\\documents\\" + name;
}

std::wstring Sample(const std::wstring& name)
{
    return TestDir() + L"\\samples\\" + name;
}

// The renderer run directly on one page, as the tests of the page mode run it: its pixels, and the
// document's page list.
struct DirectPage {
    Pixels pixels;
    std::vector<PageSizePt> pages;
};

bool RenderDirectly(const std::wstring& document, unsigned page, int width, DirectPage& direct)
{
    TempFile result;
    TempFile list;
    if (!result.Create(TempDir() + L"\\", L"dir") || !list.Create(TempDir() + L"\\", L"dir")) {
        return false;
    }
    const RendererRun run = RunRenderer(L"\"" + BinDir() + L"\\TorvView.exe\" --page \"" + document + L"\" "
                                        + std::to_wstring(page) + L" " + std::to_wstring(width) + L" \""
                                        + result.Path() + L"\" \"" + list.Path() + L"\"");
    if (!run.Succeeded() || !ReadPageListAt(list.Path(), direct.pages)) {
        return false;
    }
    const UniqueBitmap bitmap(ReadResultFileAt(result.Path()));
    return bitmap && SUCCEEDED(ReadBitmapPixels(bitmap.get(), direct.pixels));
}

// Rows [firstRow, firstRow + rows) of the direct page, at (left, top) of the pane's picture.
testing::AssertionResult HoldsDirectRows(const Pixels& pane, int left, int top, const Pixels& page, int firstRow,
                                         int rows)
{
    for (int row = 0; row < rows; ++row) {
        for (UINT x = 0; x < page.width; ++x) {
            const BYTE* expected = &page.bgra[(static_cast<size_t>(firstRow + row) * page.width + x) * 4];
            const BYTE* actual = &pane.bgra[(static_cast<size_t>(top + row) * pane.width + left + x) * 4];
            if (memcmp(expected, actual, 3) != 0) {
                return testing::AssertionFailure() << "row " << firstRow + row << " column " << x << " differs";
            }
        }
    }
    return testing::AssertionSuccess();
}

class TorvViewPaneTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(DllCanUnloadNow(), S_OK);
        SetRenderCommand(L"\"" + BinDir() + L"\\TorvView.exe\" --page \"%1\" %2 %3 \"%4\" \"%5\"");
    }
    void TearDown() override
    {
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
        EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>());
        EXPECT_EQ(LiveChildren(), 0);
    }

    // Compares every page in view with the renderer's own drawing of it at the pane's width; the
    // pages compared are added to seen.
    void ExpectPagesInView(PaneHost& host, const std::wstring& document, const PanePainted& painted,
                           std::vector<bool>& seen)
    {
        Pixels pane;
        ASSERT_EQ(host.Capture(pane), S_OK);
        const int pageWidth = PageWidthFor(static_cast<int>(pane.width));
        DirectPage first;
        ASSERT_TRUE(RenderDirectly(document, 1, pageWidth, first));
        PageLayout layout;
        layout.SetPages(first.pages);
        layout.SetClientWidth(static_cast<int>(pane.width));
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_POS;
        GetScrollInfo(host.View(), SB_VERT, &info);
        const int64_t scrollY = info.nPos;
        seen.resize(layout.PageCount());
        for (unsigned page = painted.firstPage; page <= painted.lastPage; ++page) {
            const int64_t top = layout.PageTop(page - 1) - scrollY;
            const int64_t firstRow = std::max<int64_t>(0, -top);
            const int64_t lastRow = std::min<int64_t>(layout.PageHeight(page - 1), pane.height - top);
            DirectPage direct;
            if (!RenderDirectly(document, page, pageWidth, direct)) {
                // A page the renderer cannot draw is paper with a line of grey writing on it.
                const RECT slot{kPageMargin, static_cast<LONG>(top + firstRow), kPageMargin + pageWidth,
                                static_cast<LONG>(top + lastRow)};
                EXPECT_GT(CountColor(pane, slot, 0x606060), 20u) << "page " << page;
                EXPECT_GT(CountColor(pane, slot, 0xFFFFFF), static_cast<size_t>(pageWidth) * 10) << "page " << page;
                seen[page - 1] = true;
                continue;
            }
            ASSERT_EQ(static_cast<int64_t>(direct.pixels.height), layout.PageHeight(page - 1)) << "page " << page;
            EXPECT_TRUE(HoldsDirectRows(pane, kPageMargin, static_cast<int>(top + firstRow), direct.pixels,
                                        static_cast<int>(firstRow), static_cast<int>(lastRow - firstRow)))
                << "page " << page;
            seen[page - 1] = true;
        }
    }

    Apartment m_apartment;
    ScratchHkcu m_hkcu;
};

// Page 8 of mixed-pages.pdf cannot be drawn (its boxes are unreadable): the pane shows it as paper
// with its message, and the other pages as the renderer draws them.
TEST_F(TorvViewPaneTest, EveryPageOfMixedSizesIsTheRenderersPageAtThePaneWidth)
{
    const std::wstring document = Document(L"mixed-pages.pdf");
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(InitializeWithFile(handler.get(), document), S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    std::vector<bool> seen;
    for (int step = 0; step < 100 && painted.painted; ++step) {
        ExpectPagesInView(host, document, painted, seen);
        if (HasFatalFailure() || painted.lastPage == seen.size()) {
            break;
        }
        host.PressKey(VK_NEXT);
        painted = host.WaitForPainted(kPaintWaitMs);
    }
    ASSERT_TRUE(painted.painted);
    EXPECT_EQ(seen, std::vector<bool>(8, true)) << "all eight pages were shown";
}

TEST_F(TorvViewPaneTest, AStreamShowsTheSamplesPagesAsThePathDoes)
{
    std::vector<Pixels> shown;
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "by stream" : "by path");
        PaneHost host(500, 700);
        ComPtr<IPreviewHandler> handler = NewHandler();
        const std::wstring document = Sample(L"report.pdf");
        ASSERT_EQ(stream ? InitializeWithStream(handler.get(), FileStream(document).get())
                         : InitializeWithFile(handler.get(), document),
                  S_OK);
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
        ASSERT_TRUE(painted.painted);
        std::vector<bool> seen;
        ExpectPagesInView(host, document, painted, seen);
        Pixels pixels;
        ASSERT_EQ(host.Capture(pixels), S_OK);
        shown.push_back(std::move(pixels));
        host.Detach();
    }
    EXPECT_TRUE(shown[0].bgra == shown[1].bgra);
}

TEST_F(TorvViewPaneTest, TheLastOfTenThousandPages)
{
    const std::wstring document = Document(L"ten-thousand-pages.pdf");
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(InitializeWithFile(handler.get(), document), S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    host.PressKey(VK_END);
    const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    ASSERT_TRUE(painted.painted);
    EXPECT_EQ(painted.lastPage, 10000u);
    std::vector<bool> seen;
    ExpectPagesInView(host, document, painted, seen);
    EXPECT_TRUE(seen.back());
}

TEST_F(TorvViewPaneTest, WhatTheRendererRefusesThePaneSaysAnsweringMeanwhile)
{
    struct Case {
        std::wstring document;
        PreviewError error;
    };
    const Case cases[] = {
        {Sample(L"damaged.pdf"), PreviewError::NotPdf},
        {Document(L"user-password.pdf"), PreviewError::Password},
        {Document(L"no-pages.pdf"), PreviewError::Damaged},
        // Past the renderer's 20-second budget.
        {Document(L"slow-page.pdf"), PreviewError::TooDemanding},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        PaneHost host(500, 400);
        ComPtr<IPreviewHandler> handler = NewHandler();
        ASSERT_EQ(InitializeWithFile(handler.get(), c.document), S_OK);
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        if (c.error == PreviewError::TooDemanding) {
            ASSERT_TRUE(WaitForChildren(host, 1, 10000));
            host.Pump(2000);
            // While the renderer works on the bomb, the pane answers another thread's message.
            const HWND view = host.View();
            std::atomic<bool> done{false};
            bool answered = false;
            std::thread other([&] {
                DWORD_PTR ignored = 0;
                answered = SendMessageTimeoutW(view, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &ignored) != 0;
                done = true;
            });
            while (!done) {
                host.Pump(20);
            }
            other.join();
            EXPECT_TRUE(answered);
            EXPECT_EQ(LiveChildren(), 1) << "answered before the render ended";
        }
        const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
        ASSERT_TRUE(painted.painted);
        EXPECT_EQ(painted.firstPage, 0u);
        wchar_t text[256] = {};
        GetWindowTextW(host.View(), text, 256);
        EXPECT_STREQ(text, DocumentErrorText(c.error));
        host.Detach();
    }
}

}  // namespace
