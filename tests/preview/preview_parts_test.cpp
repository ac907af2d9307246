// The preview handler's parts without a window: the layout of the pages, the page list file, the
// page mode's command, and the renderer's outcomes as the pane tells them.
#include "preview/page_command.h"
#include "preview/page_layout.h"
#include "preview/page_list.h"
#include "preview/preview_error.h"
#include "renderer/page_list.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace testing_support;

namespace {

TEST(PageLayout, PagesSitOneUnderTheOtherFitToTheWidth)
{
    PageLayout layout;
    // A4 portrait, US Letter landscape, a 3 x 3000 point sliver.
    layout.SetPages({{595.0f, 842.0f}, {792.0f, 612.0f}, {3.0f, 3000.0f}});
    layout.SetClientWidth(620);
    ASSERT_EQ(layout.PageWidth(), 600);
    const int64_t heights[] = {PageHeightForWidth(595.0f, 842.0f, 600), PageHeightForWidth(792.0f, 612.0f, 600),
                               PageHeightForWidth(3.0f, 3000.0f, 600)};
    EXPECT_EQ(heights[0], 849);
    EXPECT_EQ(heights[1], 464);
    EXPECT_EQ(heights[2], 600000);
    int64_t top = kPageMargin;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(layout.PageTop(i), top) << "page " << i;
        EXPECT_EQ(layout.PageHeight(i), heights[i]) << "page " << i;
        top += heights[i] + kPageMargin;
    }
    EXPECT_EQ(layout.TotalHeight(), top);

    // A narrower pane shortens every page in proportion.
    layout.SetClientWidth(320);
    EXPECT_EQ(layout.PageWidth(), 300);
    EXPECT_EQ(layout.PageHeight(0), PageHeightForWidth(595.0f, 842.0f, 300));
    EXPECT_EQ(layout.PageTop(1), kPageMargin + layout.PageHeight(0) + kPageMargin);
}

TEST(PageLayout, PagesInABand)
{
    PageLayout layout;
    layout.SetPages(std::vector<PageSizePt>(4, PageSizePt{100.0f, 100.0f}));
    layout.SetClientWidth(120);  // pages of 100 x 100 at 10, 120, 230 and 340; 450 in all
    ASSERT_EQ(layout.TotalHeight(), 450);
    struct Case {
        const char* name;
        int64_t top;
        int64_t height;
        size_t first;
        size_t end;
    };
    const Case cases[] = {
        {"the top margin and the first page", 0, 50, 0, 1},
        {"exactly the first page", 10, 100, 0, 1},
        {"one row of the second page", 10, 111, 0, 2},
        {"the margin below the first page only", 110, 10, 1, 1},
        {"from the margin below the first page into the second", 110, 20, 1, 2},
        {"the last page to the end", 340, 110, 3, 4},
        {"everything", 0, 450, 0, 4},
        {"past the end", 450, 100, 4, 4},
        {"an empty band", 10, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const PageRange range = layout.PagesIn(c.top, c.height);
        EXPECT_EQ(range.first, c.first) << c.name;
        EXPECT_EQ(range.end, c.end) << c.name;
    }
    EXPECT_EQ(layout.PageAt(-5), 0u);
    EXPECT_EQ(layout.PageAt(119), 0u) << "the margin below a page belongs to it";
    EXPECT_EQ(layout.PageAt(120), 1u);
    EXPECT_EQ(layout.PageAt(10000), 3u);
}

TEST(PageLayout, APaneNarrowerThanItsMarginsStillHasPagesOnePixelWide)
{
    PageLayout layout;
    layout.SetPages({{612.0f, 792.0f}});
    layout.SetClientWidth(5);
    EXPECT_EQ(layout.PageWidth(), 1);
    EXPECT_EQ(layout.PageHeight(0), 1);
}

std::wstring WritePageListFile(const std::string& bytes)
{
    return WriteDocument(L"pages.bin", bytes);
}

std::string ListBytes(uint32_t count, const std::vector<float>& values)
{
    std::string bytes(reinterpret_cast<const char*>(&count), 4);
    bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
    return bytes;
}

TEST(PageList, ReadsWhatTheRendererWritesAndRefusesTheRest)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"two pages", ListBytes(2, {612.0f, 792.0f, 842.0f, 595.0f}), true},
        {"a byte more than the list", ListBytes(1, {612.0f, 792.0f}) + "x", false},
        {"the most pages a list holds", ListBytes(kMaxPreviewPages, std::vector<float>(2 * kMaxPreviewPages, 1.0f)),
         true},
        {"no pages", ListBytes(0, {}), false},
        {"one page too many", ListBytes(kMaxPreviewPages + 1, std::vector<float>(2 * kMaxPreviewPages + 2, 1.0f)),
         false},
        {"a pair cut short", ListBytes(2, {612.0f, 792.0f, 842.0f}), false},
        {"only part of the count", std::string("\x01\x00", 2), false},
        {"an empty file", std::string(), false},
        {"a width of zero", ListBytes(1, {0.0f, 792.0f}), false},
        {"a negative height", ListBytes(1, {612.0f, -792.0f}), false},
        {"not a number", ListBytes(1, {nan, 792.0f}), false},
        {"infinite", ListBytes(1, {612.0f, infinity}), false},
    };
    for (const Case& c : cases) {
        std::vector<PageSizePt> pages{{1.0f, 2.0f}};
        const bool read = ReadPageListAt(WritePageListFile(c.bytes).c_str(), pages);
        EXPECT_EQ(read, c.valid) << c.name;
        if (!c.valid) {
            ASSERT_EQ(pages.size(), 1u) << c.name << ": a refused list leaves the pages as they were";
            EXPECT_EQ(pages[0].width, 1.0f) << c.name;
        }
    }
    std::vector<PageSizePt> pages;
    ASSERT_TRUE(ReadPageListAt(WritePageListFile(ListBytes(2, {612.0f, 792.0f, 842.0f, 595.0f})).c_str(), pages));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].width, 842.0f);
    EXPECT_EQ(pages[1].height, 595.0f);
    EXPECT_FALSE(ReadPageListAt((TempDir() + L"\\no such list").c_str(), pages));
}

TEST(PageCommand, DefaultStartsTorvViewBesideTheLibraryInItsPageMode)
{
    ScratchHkcu hkcu;
    EXPECT_EQ(BuildPageCommand(L"C:\\docs\\a.pdf", 12, 580, L"C:\\t\\tvp1.tmp", L"C:\\t\\tvp2.tmp"),
              L"\"" + TestDir() + L"\\TorvView.exe\" --page \"C:\\docs\\a.pdf\" 12 580 \"C:\\t\\tvp1.tmp\" "
                                  L"\"C:\\t\\tvp2.tmp\"");
}

TEST(PageCommand, TemplatePlaceholdersAreFilledInOnePass)
{
    ScratchHkcu hkcu;
    SetRenderCommand(L"r %5 %4 %3 %2 %1 %1");
    // Text that a path brings in is never searched again: a downloaded file's "%20" stays.
    EXPECT_EQ(BuildPageCommand(L"C:\\a%20b%3.pdf", 7, 99, L"R%1", L"L%2"), L"r L%2 R%1 99 7 C:\\a%20b%3.pdf C:\\a%20b%3.pdf");
    // An empty value falls back to the default command.
    SetRenderCommand(L"");
    EXPECT_NE(BuildPageCommand(L"d", 1, 1, L"r", L"l").find(L"--page \"d\" 1 1 \"r\" \"l\""), std::wstring::npos);
}

TEST(PreviewError, RendererOutcomesAndTheirSentences)
{
    struct Case {
        RendererOutcome outcome;
        DWORD exitCode;
        PreviewError error;
        const wchar_t* words;  // part of the sentence the pane shows
    };
    const Case cases[] = {
        {RendererOutcome::Ended, 3, PreviewError::Unreadable, L"cannot be read"},
        {RendererOutcome::Ended, 4, PreviewError::NotPdf, L"not a PDF"},
        {RendererOutcome::Ended, 6, PreviewError::Password, L"password"},
        {RendererOutcome::Ended, 7, PreviewError::Damaged, L"damaged"},
        {RendererOutcome::Ended, 8, PreviewError::TooDemanding, L"more time or memory"},
        {RendererOutcome::Ended, 9, PreviewError::NotConfined, L"restrict"},
        {RendererOutcome::Ended, 2, PreviewError::Other, L"cannot be previewed."},
        {RendererOutcome::Ended, 5, PreviewError::Other, L"cannot be previewed."},
        {RendererOutcome::TimedOut, 1, PreviewError::TooDemanding, L"more time or memory"},
        {RendererOutcome::NotStarted, 1, PreviewError::RendererMissing, L"TorvView.exe"},
    };
    for (const Case& c : cases) {
        RendererRun run;
        run.outcome = c.outcome;
        run.exitCode = c.exitCode;
        EXPECT_EQ(ErrorOfRun(run), c.error) << "exit code " << c.exitCode;
        EXPECT_NE(std::wstring(DocumentErrorText(c.error)).find(c.words), std::wstring::npos)
            << "exit code " << c.exitCode;
    }
}

}  // namespace
