// TorvView.exe --page run as a real process, as the preview DLL starts it: the page list of documents
// whose pages differ in every way the list must follow, the size each page is drawn at, pages past
// the list, page trees that lie or loop, the outcome for each kind of document, and its two output
// files (its arguments are in torvview_test.cpp's table). That the pixels show the page asked for is checked against the engine's native
// rendering in reference_test.py.
#include "renderer/exit_code.h"
#include "renderer/limits.h"
#include "renderer/page_list.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tool_testing::FileSize;
using tool_testing::Quote;
using tool_testing::ReadRendererResult;
using tool_testing::RendererResult;

std::wstring TestDocument(const std::wstring& name)
{
    return tool_testing::DocumentsDir() + L"\\" + name;
}

std::wstring Sample(const std::wstring& name)
{
    return tool_testing::SamplesDir() + L"\\" + name;
}

// A fresh, empty output file, as the DLL makes it.
std::wstring EmptyFile(const wchar_t* name)
{
    const std::wstring path = testing_support::TempDir() + L"\\" + name;
    tool_testing::WriteFileBytes(path, std::string());
    return path;
}

std::wstring PageArguments(const std::wstring& document, const std::wstring& page, const std::wstring& width,
                           const std::wstring& result, const std::wstring& pageList)
{
    return L"--page " + Quote(document) + L" " + page + L" " + width + L" " + Quote(result) + L" " + Quote(pageList);
}

DWORD RunRenderer(const std::wstring& arguments)
{
    return tool_testing::Run(Quote(tool_testing::ViewerPath()) + L" " + arguments).exitCode;
}

struct PageRun {
    DWORD exitCode = 0;
    RendererResult result;
    long long resultBytes = 0;
    std::vector<BYTE> pageListBytes;
    std::vector<PageSizePt> pages;  // decoded from pageListBytes, if they are a page list
    bool pageListValid = false;
};

PageRun RunPage(const std::wstring& document, const std::wstring& page, const std::wstring& width)
{
    const std::wstring result = EmptyFile(L"page-result.tmp");
    const std::wstring pageList = EmptyFile(L"page-list.tmp");
    PageRun run;
    run.exitCode = RunRenderer(PageArguments(document, page, width, result, pageList));
    run.result = ReadRendererResult(result);
    run.resultBytes = FileSize(result);
    run.pageListBytes = tool_testing::ReadFileBytes(pageList);
    run.pageListValid = DecodePageList(run.pageListBytes.data(), run.pageListBytes.size(), run.pages);
    return run;
}

std::string SizeText(PageSizePt size)
{
    return std::to_string(size.width) + " x " + std::to_string(size.height);
}

// Each page's size as make_mixed_pages in tests/documents/make-documents describes it.
TEST(PageListTest, FollowsEachPagesBoxesRotationAndInheritance)
{
    const PageSizePt expected[] = {
        {595, 842},  // A4
        {792, 612},  // media box and /Rotate 90 inherited from the node
        {842, 595},  // its own landscape media box and /Rotate 0 over the inherited ones
        {400, 300},  // its own crop box within the inherited media box, turned by the inherited /Rotate
        {300, 250},  // a crop box reaching past the media box: their intersection
        {612, 792},  // no box at all: the engine's default, US Letter
        {300, 200},  // /Rotate -90
        {300, 200},  // boxes that cannot be read: the page before it
    };
    const PageRun first = RunPage(TestDocument(L"mixed-pages.pdf"), L"1", L"300");
    ASSERT_EQ(first.exitCode, static_cast<DWORD>(kExitOk));
    ASSERT_TRUE(first.pageListValid);
    ASSERT_EQ(first.pages.size(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < first.pages.size(); ++i) {
        EXPECT_FLOAT_EQ(first.pages[i].width, expected[i].width) << "page " << i + 1 << ": " << SizeText(first.pages[i]);
        EXPECT_FLOAT_EQ(first.pages[i].height, expected[i].height) << "page " << i + 1 << ": " << SizeText(first.pages[i]);
    }

    // The list does not depend on the page drawn.
    const PageRun seventh = RunPage(TestDocument(L"mixed-pages.pdf"), L"7", L"300");
    ASSERT_EQ(seventh.exitCode, static_cast<DWORD>(kExitOk));
    EXPECT_EQ(seventh.pageListBytes, first.pageListBytes);
}

// Where a case's document lies.
enum Folder { kSample, kGenerated };

struct PageCase {
    const char* name;
    Folder folder;
    const wchar_t* document;
    const wchar_t* page;
    const wchar_t* width;
    DWORD exitCode;
    int32_t resultWidth;  // when exitCode is 0
    int32_t resultHeight;
    size_t listed;        // pages in the list
};

std::ostream& operator<<(std::ostream& out, const PageCase& c)
{
    return out << c.name;
}

class PageOutcomeTest : public testing::TestWithParam<PageCase> {};

// Heights at width 300 from the page sizes above: 842/595, 612/792, ... of 300, rounded.
INSTANTIATE_TEST_SUITE_P(
    Documents, PageOutcomeTest,
    testing::Values(
        PageCase{"a4", kGenerated, L"mixed-pages.pdf", L"1", L"300", kExitOk, 300, 425, 8},
        PageCase{"turned_by_inherited_rotate", kGenerated, L"mixed-pages.pdf", L"2", L"300", kExitOk, 300, 232, 8},
        PageCase{"own_landscape_box", kGenerated, L"mixed-pages.pdf", L"3", L"300", kExitOk, 300, 212, 8},
        PageCase{"own_crop_box_turned", kGenerated, L"mixed-pages.pdf", L"4", L"300", kExitOk, 300, 225, 8},
        PageCase{"crop_box_past_media_box", kGenerated, L"mixed-pages.pdf", L"5", L"300", kExitOk, 300, 250, 8},
        PageCase{"no_box", kGenerated, L"mixed-pages.pdf", L"6", L"300", kExitOk, 300, 388, 8},
        PageCase{"rotate_minus_90", kGenerated, L"mixed-pages.pdf", L"7", L"300", kExitOk, 300, 200, 8},
        PageCase{"boxes_unreadable", kGenerated, L"mixed-pages.pdf", L"8", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"past_the_last_page", kGenerated, L"mixed-pages.pdf", L"9", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"page_number_past_any_list", kGenerated, L"mixed-pages.pdf", L"99999999999", L"300",
                 kExitEngineFailed, 0, 0, 0},
        PageCase{"later_page_of_a_sample", kSample, L"report.pdf", L"2", L"600", kExitOk, 600, 849, 3},
        PageCase{"landscape_at_the_widest", kSample, L"slide.pdf", L"1", L"4096", kExitOk, 4096, 2304, 1},
        // Taller than 4096 at this width: 4096 high, and the width in proportion.
        PageCase{"capped_at_4096_high", kSample, L"letter.pdf", L"1", L"4096", kExitOk, 3165, 4096, 1},
        PageCase{"sliver_capped_keeps_its_shape", kGenerated, L"sliver-page.pdf", L"1", L"600", kExitOk, 4, 4096, 1},
        PageCase{"narrowest", kSample, L"letter.pdf", L"1", L"1", kExitOk, 1, 1, 1},
        PageCase{"last_of_ten_thousand", kGenerated, L"ten-thousand-pages.pdf", L"10000", L"600", kExitOk, 600, 849,
                 10000},
        PageCase{"past_ten_thousand", kGenerated, L"ten-thousand-pages.pdf", L"10001", L"600", kExitEngineFailed, 0, 0,
                 0},
        // Page trees that loop, repeat or lie about their count.
        PageCase{"cycle_holds_no_page", kGenerated, L"page-tree-cycle.pdf", L"2", L"600", kExitOk, 600, 849, 2},
        PageCase{"past_a_cycle", kGenerated, L"page-tree-cycle.pdf", L"3", L"600", kExitEngineFailed, 0, 0, 0},
        PageCase{"list_cut_at_100000", kGenerated, L"page-tree-repeated.pdf", L"100000", L"300", kExitOk, 300, 425,
                 kMaxPreviewPages},
        PageCase{"past_the_cut", kGenerated, L"page-tree-repeated.pdf", L"100001", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"count_claims_a_billion", kGenerated, L"page-count-too-high.pdf", L"3", L"300", kExitOk, 300, 425, 3},
        PageCase{"count_says_two_of_three", kGenerated, L"page-count-too-low.pdf", L"2", L"300", kExitOk, 300, 425, 2},
        PageCase{"past_the_count", kGenerated, L"page-count-too-low.pdf", L"3", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"counts_agree_on_page_1", kGenerated, L"page-counts-disagree.pdf", L"1", L"300", kExitOk, 300, 425,
                 3},
        // The engine would draw page 3 here: no pixels rather than another page's.
        PageCase{"engine_finds_another_page", kGenerated, L"page-counts-disagree.pdf", L"2", L"300",
                 kExitEngineFailed, 0, 0, 0},
        // The thumbnail's outcomes, on the page mode's path.
        PageCase{"repaired_xref", kGenerated, L"broken-xref.pdf", L"1", L"300", kExitOk, 300, 425, 1},
        PageCase{"empty_user_password", kGenerated, L"owner-password-only.pdf", L"1", L"300", kExitOk, 300, 425, 1},
        PageCase{"user_password", kGenerated, L"user-password.pdf", L"1", L"300", kExitPasswordProtected, 0, 0, 0},
        PageCase{"no_pages", kGenerated, L"no-pages.pdf", L"1", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"truncated", kGenerated, L"truncated.pdf", L"1", L"300", kExitEngineFailed, 0, 0, 0},
        PageCase{"image_past_the_memory_ceiling", kGenerated, L"huge-keyed-image.pdf", L"1", L"300",
                 kExitResourceLimit, 0, 0, 0},
        PageCase{"resources_nested_eighty_thousand_deep", kGenerated, L"deep-resources.pdf", L"1", L"300", kExitOk,
                 300, 425, 1},
        PageCase{"content_of_gigabytes_of_spaces", kGenerated, L"whitespace-bomb.pdf", L"1", L"300",
                 kExitResourceLimit, 0, 0, 0},
        PageCase{"damaged_header", kSample, L"damaged.pdf", L"1", L"300", kExitNotPdf, 0, 0, 0},
        PageCase{"document_missing", kSample, L"missing.pdf", L"1", L"300", kExitDocumentUnreadable, 0, 0, 0}),
    [](const testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

// Both files complete, the page at the size its listed size gives, or both untouched; every case
// ends before the watchdog's hard stop.
TEST_P(PageOutcomeTest, WritesAPageAndTheListOrNeither)
{
    const PageCase& c = GetParam();
    const std::wstring document = c.folder == kSample ? Sample(c.document) : TestDocument(c.document);

    const ULONGLONG started = GetTickCount64();
    const PageRun run = RunPage(document, c.page, c.width);
    const ULONGLONG elapsedMs = GetTickCount64() - started;
    ASSERT_EQ(run.exitCode, c.exitCode);
    EXPECT_LT(elapsedMs, kHardStopMs);
    if (c.exitCode == kExitResourceLimit) {
        std::printf("%s: exit code %lu after %llu ms\n", c.name, c.exitCode, elapsedMs);
    }

    if (c.exitCode != kExitOk) {
        EXPECT_EQ(run.resultBytes, 0);
        EXPECT_TRUE(run.pageListBytes.empty());
        return;
    }
    EXPECT_TRUE(run.result.complete);
    EXPECT_TRUE(run.result.opaque);
    EXPECT_EQ(run.result.width, c.resultWidth);
    EXPECT_EQ(run.result.height, c.resultHeight);
    ASSERT_TRUE(run.pageListValid);
    ASSERT_EQ(run.pages.size(), c.listed);
    // The height the DLL gives the page's blank paper is the drawn one, unless the cap applied.
    const PageSizePt listed = run.pages[std::stoul(c.page) - 1];
    const int height = PageHeightForWidth(listed.width, listed.height, std::stoi(c.width));
    if (height <= kMaxPageWidth) {
        EXPECT_EQ(run.result.height, height) << SizeText(listed);
    }
}

// The contract hands over two existing files; without either, the renderer writes neither.
TEST(PageFilesTest, MissingPageListFileIsNotCreatedAndTheResultStaysEmpty)
{
    const std::wstring result = EmptyFile(L"alone-result.tmp");
    const std::wstring pageList = testing_support::TempDir() + L"\\never-made-list.tmp";

    EXPECT_EQ(RunRenderer(PageArguments(Sample(L"letter.pdf"), L"1", L"300", result, pageList)),
              static_cast<DWORD>(kExitResultNotWritable));
    EXPECT_FALSE(tool_testing::FileExists(pageList));
    EXPECT_EQ(FileSize(result), 0);
}

TEST(PageFilesTest, LongerFilesAreReplacedWhole)
{
    const std::wstring result = testing_support::TempDir() + L"\\stale-result.tmp";
    const std::wstring pageList = testing_support::TempDir() + L"\\stale-list.tmp";
    tool_testing::WriteFileBytes(result, std::string(100000, 'x'));
    tool_testing::WriteFileBytes(pageList, std::string(100000, 'x'));

    ASSERT_EQ(RunRenderer(PageArguments(Sample(L"report.pdf"), L"3", L"10", result, pageList)),
              static_cast<DWORD>(kExitOk));

    // 10 x 14 pixels after the header, and three pages' sizes after the count.
    EXPECT_EQ(FileSize(result), 8 + 10 * 14 * 4);
    EXPECT_EQ(FileSize(pageList), 4 + 3 * 8);
}

}  // namespace
