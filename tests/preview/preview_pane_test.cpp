// The pane as a host shows it: pixels, pages drawn as they come into view, scrolling, resizing,
// messages, streams, the renderer's end at Unload and the temporary folder at Low integrity.
#include "renderer/page_list.h"
#include "preview/page_layout.h"
#include "preview/preview_error.h"
#include "preview/preview_module.h"
#include "preview/render_worker.h"
#include "preview/temp_folder.h"
#include "preview_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

using namespace testing_support;
using namespace preview_testing;

namespace {

constexpr DWORD kPaintWaitMs = 20000;

class PaneTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(DllCanUnloadNow(), S_OK) << "a previous test left an object alive";
        UseTestPageRenderer();
    }
    void TearDown() override
    {
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object outlived the test";
        EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>()) << "temporary files outlived the test";
        EXPECT_EQ(LiveChildren(), 0) << "a renderer outlived the test";
    }

    // A handler initialised with the document, attached to the host and previewing.
    ComPtr<IPreviewHandler> Preview(PaneHost& host, const std::wstring& document)
    {
        ComPtr<IPreviewHandler> handler = NewHandler();
        EXPECT_EQ(InitializeWithFile(handler.get(), document), S_OK);
        EXPECT_EQ(host.Attach(handler.get()), S_OK);
        EXPECT_EQ(handler->DoPreview(), S_OK);
        return handler;
    }

    static RECT Client(HWND window)
    {
        RECT client{};
        GetClientRect(window, &client);
        return client;
    }

    Apartment m_apartment;
    ScratchHkcu m_hkcu;
};

TEST_F(PaneTest, FirstPagesShowTheRenderersPixelsAtThePaneWidth)
{
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"three.pdf", "pages 3 612 792\n"));
    const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    ASSERT_TRUE(painted.painted);
    const int clientWidth = Client(host.View()).right;
    const int pageWidth = PageWidthFor(clientWidth);
    const int pageHeight = static_cast<int>(PageHeightForWidth(612.0f, 792.0f, pageWidth));
    ASSERT_LT(clientWidth, 600) << "the scroll bar takes its place beside the pages";
    // Page 1 whole, and the top of page 2 below it.
    EXPECT_EQ(painted.firstPage, 1u);
    EXPECT_EQ(painted.lastPage, 2u);

    Pixels pixels;
    ASSERT_EQ(host.Capture(pixels), S_OK);
    ASSERT_EQ(pixels.height, 800u);
    EXPECT_TRUE(HoldsPage(pixels, kPageMargin, kPageMargin, 1, pageWidth, 0, pageHeight));
    const int secondTop = kPageMargin + pageHeight + kPageMargin;
    EXPECT_TRUE(HoldsPage(pixels, kPageMargin, secondTop, 2, pageWidth, 0, 800 - secondTop));
    // Around the pages, the pane's own background.
    const DWORD background = GetSysColor(COLOR_APPWORKSPACE);
    EXPECT_EQ(PixelAt(pixels, 2, 2), static_cast<DWORD>(RGB(GetBValue(background), GetGValue(background), GetRValue(background))));
    wchar_t text[16] = L"unset";
    GetWindowTextW(host.View(), text, 16);
    EXPECT_STREQ(text, L"") << "no message instead of the pages";
}

TEST_F(PaneTest, OnlyThePagesInViewAndTheNextAreDrawn)
{
    PageLog log;
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"five-thousand.pdf", "pages 5000 612 792\n"));
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    // The page ahead, and then no other.
    for (int i = 0; i < 200 && log.Pages().size() < 3; ++i) {
        host.Pump(50);
    }
    host.Pump(1000);
    EXPECT_EQ(log.Pages(), (std::vector<unsigned>{1, 2, 3}));

    host.PressKey(VK_END);
    const PanePainted atEnd = host.WaitForPainted(kPaintWaitMs);
    ASSERT_TRUE(atEnd.painted);
    EXPECT_EQ(atEnd.lastPage, 5000u);
    std::vector<unsigned> pages = log.Pages();
    ASSERT_GE(pages.size(), 4u);
    std::sort(pages.begin() + 3, pages.end());
    EXPECT_EQ(std::vector<unsigned>(pages.begin() + 3, pages.end()), (std::vector<unsigned>{4999, 5000}))
        << "the pages in view at the end, and none on the way";
}

TEST_F(PaneTest, KeysWheelAndScrollBarScroll)
{
    PaneHost host(600, 500);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"ten.pdf", "pages 10 612 792\n"));
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    handler->SetFocus();
    ASSERT_EQ(GetFocus(), host.View());
    const HWND view = host.View();
    const auto position = [&] {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_POS;
        GetScrollInfo(view, SB_VERT, &info);
        return info.nPos;
    };
    struct Step {
        const char* name;
        std::function<void()> act;
        int expectedMove;  // sign of the change in position: 1 down, -1 up, 0 none
    };
    const Step steps[] = {
        {"Page Down", [&] { host.PressKey(VK_NEXT); }, 1},
        {"Down arrow", [&] { host.PressKey(VK_DOWN); }, 1},
        {"Up arrow", [&] { host.PressKey(VK_UP); }, -1},
        {"Page Up", [&] { host.PressKey(VK_PRIOR); }, -1},
        {"End", [&] { host.PressKey(VK_END); }, 1},
        {"Down arrow at the end", [&] { host.PressKey(VK_DOWN); }, 0},
        {"Home", [&] { host.PressKey(VK_HOME); }, -1},
        {"wheel towards the user", [&] { SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0); }, 1},
        {"wheel away", [&] { SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0); }, -1},
        {"scroll bar page down", [&] { SendMessageW(view, WM_VSCROLL, SB_PAGEDOWN, 0); }, 1},
        {"scroll bar to the bottom", [&] { SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0); }, 1},
        {"scroll bar line up", [&] { SendMessageW(view, WM_VSCROLL, SB_LINEUP, 0); }, -1},
    };
    for (const Step& step : steps) {
        const int before = position();
        step.act();
        host.Pump(0);
        const int after = position();
        EXPECT_EQ((after > before) - (after < before), step.expectedMove) << step.name << ": " << before << " to " << after;
    }
    host.PressKey(VK_END);
    const PanePainted atEnd = host.WaitForPainted(kPaintWaitMs);
    EXPECT_EQ(atEnd.lastPage, 10u);
    EXPECT_TRUE(host.KeysAtFrame().empty()) << "the scrolling keys are the view's own";
}

TEST_F(PaneTest, AResizeShowsTheOldPageScaledUntilItIsDrawnAgain)
{
    PaneHost host(600, 800);
    // Every page takes a while to draw, so that the pane can be seen before the new one comes.
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"slow.pdf", "pages 2 612 792\nsleep 1500\n"));
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    host.Pump(3000);  // page 2, the next ahead

    ASSERT_EQ(host.Resize(400, 800), S_OK);
    host.Pump(200);
    const int pageWidth = PageWidthFor(Client(host.View()).right);
    const int pageHeight = static_cast<int>(PageHeightForWidth(612.0f, 792.0f, pageWidth));
    Pixels scaled;
    ASSERT_EQ(host.Capture(scaled), S_OK);
    const RECT slot{kPageMargin, kPageMargin, kPageMargin + pageWidth, kPageMargin + pageHeight};
    EXPECT_LT(CountColor(scaled, slot, 0xFFFFFF), static_cast<size_t>(pageWidth) * pageHeight / 10)
        << "the old page, scaled, rather than blank paper";
    EXPECT_FALSE(HoldsPage(scaled, kPageMargin, kPageMargin, 1, pageWidth, 0, pageHeight));

    const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    ASSERT_TRUE(painted.painted);
    ASSERT_EQ(pageWidth, PageWidthFor(Client(host.View()).right));
    Pixels redrawn;
    ASSERT_EQ(host.Capture(redrawn), S_OK);
    EXPECT_TRUE(HoldsPage(redrawn, kPageMargin, kPageMargin, 1, pageWidth, 0, pageHeight));
}

TEST_F(PaneTest, ADocumentThatCannotBeDrawnShowsWhy)
{
    struct Case {
        const char* script;  // the test renderer's document; "" for a renderer that does not exist
        PreviewError error;
    };
    const Case cases[] = {
        {"exit 3\n", PreviewError::Unreadable},
        {"exit 4\n", PreviewError::NotPdf},
        {"exit 6\n", PreviewError::Password},
        {"exit 7\n", PreviewError::Damaged},
        {"exit 8\n", PreviewError::TooDemanding},
        {"exit 9\n", PreviewError::NotConfined},
        {"", PreviewError::RendererMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        if (*c.script == '\0') {
            SetRenderCommand(L"\"" + TempDir() + L"\\missing\\TorvView.exe\" --page \"%1\" %2 %3 \"%4\" \"%5\"");
        } else {
            UseTestPageRenderer();
        }
        PaneHost host(500, 400);
        ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"cannot.pdf", c.script));
        const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
        ASSERT_TRUE(painted.painted);
        EXPECT_EQ(painted.firstPage, 0u) << "a message instead of pages";
        wchar_t text[256] = {};
        GetWindowTextW(host.View(), text, 256);
        EXPECT_STREQ(text, DocumentErrorText(c.error));
        // The sentence is drawn in the pane, in the text colour, on its background.
        Pixels pixels;
        ASSERT_EQ(host.Capture(pixels), S_OK);
        const DWORD ink = GetSysColor(COLOR_WINDOWTEXT);
        EXPECT_GT(CountColor(pixels, Client(host.View()), RGB(GetBValue(ink), GetGValue(ink), GetRValue(ink))), 20u);
        host.Detach();
    }
}

TEST_F(PaneTest, ALaterPageThatCannotBeDrawnShowsPaperWithAMessage)
{
    PaneHost host(600, 500);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"bad-second.pdf", "pages 3 612 792\nfail 2 8\n"));
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    host.PressKey(VK_NEXT);
    const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    ASSERT_TRUE(painted.painted);
    ASSERT_LE(painted.firstPage, 2u);
    ASSERT_GE(painted.lastPage, 2u);
    wchar_t text[16] = L"unset";
    GetWindowTextW(host.View(), text, 16);
    EXPECT_STREQ(text, L"") << "the document as a whole is shown";
    Pixels pixels;
    ASSERT_EQ(host.Capture(pixels), S_OK);
    const RECT pane = Client(host.View());
    // Paper with dark grey writing where page 2 is; page 2's pattern nowhere.
    EXPECT_GT(CountColor(pixels, pane, 0x606060), 20u);
    EXPECT_GT(CountColor(pixels, pane, 0xFFFFFF), 1000u);
}

TEST_F(PaneTest, UnloadDuringARenderEndsTheRendererAndLeavesNothing)
{
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"endless.pdf", "sleep 120000\n"));
    ASSERT_TRUE(WaitForChildren(host, 1, 10000)) << "the renderer should be running by now";
    EXPECT_EQ(handler->Unload(), S_OK);
    EXPECT_EQ(LiveChildren(), 0) << "Unload ended the renderer";
    EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>());
    EXPECT_EQ(host.View(), nullptr) << "the view went with Unload";
}

TEST_F(PaneTest, TheWindowAnswersWhileTheRendererWorksOnABomb)
{
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = Preview(host, WriteDocument(L"bomb.pdf", "sleep 25000\n"));
    ASSERT_TRUE(WaitForChildren(host, 1, 10000));
    // The host's thread is free: a message sent to the pane's window from another thread is
    // answered while the renderer still works.
    const HWND view = host.View();
    DWORD_PTR length = 12345;
    bool answered = false;
    std::atomic<bool> done{false};
    std::thread other([&] {
        answered = SendMessageTimeoutW(view, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length) != 0;
        done = true;
    });
    while (!done) {
        host.Pump(20);
    }
    other.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(LiveChildren(), 1) << "answered before the render ended";
}

enum class Source { Path, FileStream, ApartmentStream };

TEST_F(PaneTest, StreamsShowWhatThePathShows)
{
    const std::wstring document = WriteDocument(L"two.pdf", "pages 2 595 842\n");
    struct Case {
        const char* name;
        Source source;
    };
    const Case cases[] = {
        {"the path", Source::Path},
        {"a stream on the file", Source::FileStream},
        {"a stream that only its own thread may call", Source::ApartmentStream},
    };
    std::vector<Pixels> shown;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaneHost host(500, 700);
        ComPtr<IPreviewHandler> handler = NewHandler();
        switch (c.source) {
        case Source::Path:
            ASSERT_EQ(InitializeWithFile(handler.get(), document), S_OK);
            break;
        case Source::FileStream:
            ASSERT_EQ(InitializeWithStream(handler.get(), FileStream(document).get()), S_OK);
            break;
        case Source::ApartmentStream:
            ASSERT_EQ(InitializeWithStream(handler.get(), ApartmentStream("pages 2 595 842\n").get()), S_OK);
            break;
        }
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
        Pixels pixels;
        ASSERT_EQ(host.Capture(pixels), S_OK);
        const int pageWidth = PageWidthFor(Client(host.View()).right);
        EXPECT_TRUE(HoldsPage(pixels, kPageMargin, kPageMargin, 1, pageWidth, 0,
                              static_cast<int>(PageHeightForWidth(595.0f, 842.0f, pageWidth))));
        shown.push_back(std::move(pixels));
        host.Detach();
        EXPECT_EQ(PreviewFilesLeft(), std::vector<std::wstring>()) << "the stream's copy went with Unload";
    }
    EXPECT_TRUE(shown[1].bgra == shown[0].bgra);
    EXPECT_TRUE(shown[2].bgra == shown[0].bgra);
}

TEST_F(PaneTest, AStreamThatCannotBeCopiedShowsWhy)
{
    struct Case {
        const char* name;
        long long statSize;
        bool failReads;
        PreviewError error;
    };
    const Case cases[] = {
        {"larger than the limit", static_cast<long long>(kMaxStreamBytes) + 1, false, PreviewError::StreamTooLarge},
        {"reads fail", -1, true, PreviewError::StreamUnreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageLog log;
        PaneHost host(500, 400);
        ComPtr<IPreviewHandler> handler = NewHandler();
        ASSERT_EQ(InitializeWithStream(handler.get(), ApartmentStream("pages 1 612 792\n", c.statSize, c.failReads).get()),
                  S_OK);
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
        wchar_t text[256] = {};
        GetWindowTextW(host.View(), text, 256);
        EXPECT_STREQ(text, DocumentErrorText(c.error));
        EXPECT_TRUE(log.Lines().empty()) << "no renderer was started";
        host.Detach();
    }
}

std::wstring LocalLowTemp()
{
    wchar_t* localLow = nullptr;
    SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &localLow);
    const std::wstring path = std::wstring(localLow ? localLow : L"") + L"\\Temp";
    CoTaskMemFree(localLow);
    return path;
}

// The directory of every quoted path of a command line after its program's.
std::vector<std::wstring> QuotedDirectories(const std::wstring& commandLine)
{
    std::vector<std::wstring> directories;
    size_t open = commandLine.find(L'"', commandLine.find(L'"', 1) + 1);
    while (open != std::wstring::npos) {
        const size_t close = commandLine.find(L'"', open + 1);
        const std::wstring path = commandLine.substr(open + 1, close - open - 1);
        directories.push_back(path.substr(0, path.find_last_of(L'\\')));
        open = commandLine.find(L'"', close + 1);
    }
    return directories;
}

TEST_F(PaneTest, TemporaryFilesGoWhereTheProcessMayWrite)
{
    struct Case {
        const char* name;
        DWORD level;
        std::wstring directory;
    };
    const Case cases[] = {
        {"at Low integrity, as in the Shell's preview surrogate", SECURITY_MANDATORY_LOW_RID, LocalLowTemp()},
        {"at Medium integrity", SECURITY_MANDATORY_MEDIUM_RID, TempDir()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OverrideIntegrityLevel(c.level);
        const size_t before = PreviewFilesIn(LocalLowTemp()).size();
        {
            RecordRendererStart record;
            PaneHost host(500, 400);
            ComPtr<IPreviewHandler> handler = NewHandler();
            ASSERT_EQ(InitializeWithStream(handler.get(), ApartmentStream("pages 1 612 792\n").get()), S_OK);
            ASSERT_EQ(host.Attach(handler.get()), S_OK);
            ASSERT_EQ(handler->DoPreview(), S_OK);
            ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
            RendererStart start;
            ASSERT_TRUE(record.Read(start));
            // The stream's copy, the result file and the page list.
            const std::vector<std::wstring> directories = QuotedDirectories(start.commandLine);
            ASSERT_EQ(directories.size(), 3u) << start.commandLine;
            for (const std::wstring& directory : directories) {
                EXPECT_EQ(lstrcmpiW(directory.c_str(), c.directory.c_str()), 0) << start.commandLine;
            }
            host.Detach();
        }
        EXPECT_EQ(PreviewFilesIn(LocalLowTemp()).size(), before) << "every file deleted";
    }
    OverrideIntegrityLevel(0);
}

TEST_F(PaneTest, TheVisualsColourThePaneAroundWhitePaper)
{
    PaneHost host(600, 500);
    ComPtr<IPreviewHandler> handler = NewHandler();
    ComPtr<IPreviewHandlerVisuals> visuals;
    ASSERT_EQ(handler.As(visuals), S_OK);
    ASSERT_EQ(visuals->SetBackgroundColor(RGB(10, 20, 30)), S_OK);
    // Page 2 takes long: once in view, it is plain paper for a while.
    ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"slow-second.pdf", "pages 3 612 792\nsleep-page 2 8000\n")),
              S_OK);
    ASSERT_EQ(host.Attach(handler.get()), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
    host.PressKey(VK_NEXT);
    host.Pump(200);
    Pixels pixels;
    ASSERT_EQ(host.Capture(pixels), S_OK);
    EXPECT_EQ(PixelAt(pixels, 2, 2), 0x0A141Eu) << "the background around the pages";
    const RECT pane = Client(host.View());
    // Page 2's slot in view: white paper, its pattern not there yet.
    EXPECT_GT(CountColor(pixels, pane, 0xFFFFFF), static_cast<size_t>(pane.right) * 100);

    // A later colour applies at once.
    ASSERT_EQ(visuals->SetBackgroundColor(RGB(200, 100, 0)), S_OK);
    host.Pump(0);
    ASSERT_EQ(host.Capture(pixels), S_OK);
    EXPECT_EQ(PixelAt(pixels, 2, 2), 0xC86400u);
}

TEST_F(PaneTest, TheVisualsFontAndTextColourWriteTheMessage)
{
    size_t ink[2] = {};
    const LONG heights[] = {-12, -36};
    for (int i = 0; i < 2; ++i) {
        PaneHost host(600, 400);
        ComPtr<IPreviewHandler> handler = NewHandler();
        ComPtr<IPreviewHandlerVisuals> visuals;
        ASSERT_EQ(handler.As(visuals), S_OK);
        LOGFONTW font{};
        font.lfHeight = heights[i];
        font.lfWeight = FW_NORMAL;
        lstrcpyW(font.lfFaceName, L"Tahoma");
        ASSERT_EQ(visuals->SetFont(&font), S_OK);
        ASSERT_EQ(visuals->SetTextColor(RGB(200, 0, 0)), S_OK);
        ASSERT_EQ(InitializeWithFile(handler.get(), WriteDocument(L"locked.pdf", "exit 6\n")), S_OK);
        ASSERT_EQ(host.Attach(handler.get()), S_OK);
        ASSERT_EQ(handler->DoPreview(), S_OK);
        ASSERT_TRUE(host.WaitForPainted(kPaintWaitMs).painted);
        Pixels pixels;
        ASSERT_EQ(host.Capture(pixels), S_OK);
        ink[i] = CountColor(pixels, Client(host.View()), 0xC80000);
    }
    EXPECT_GT(ink[0], 20u) << "the message in the text colour";
    EXPECT_GT(ink[1], 3 * ink[0]) << "in the font given";
}

}  // namespace
