// The renderer's parts that need no document: fitting the page, the size and page arguments, the
// result and page list files' bytes, the memory ceiling and the time budget.
#include "renderer/arguments.h"
#include "renderer/engine_limits.h"
#include "renderer/exit_code.h"
#include "renderer/file_stream.h"
#include "renderer/page_fit.h"
#include "renderer/page_list.h"
#include "renderer/result_writer.h"
#include "renderer/time_budget.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

namespace {

struct FitCase {
    double width;
    double height;
    int edge;
    int expectedWidth;
    int expectedHeight;
};

std::ostream& operator<<(std::ostream& out, const FitCase& c)
{
    return out << c.width << "x" << c.height << " at " << c.edge;
}

class FitTest : public testing::TestWithParam<FitCase> {};

INSTANTIATE_TEST_SUITE_P(
    Pages, FitTest,
    testing::Values(FitCase{595, 842, 256, 181, 256},     // A4 portrait: 180.9 rounds up
                    FitCase{842, 595, 256, 256, 181},     // A4 landscape
                    FitCase{612, 792, 256, 198, 256},     // US Letter: 197.8
                    FitCase{500, 500, 300, 300, 300},     // square
                    FitCase{2, 3, 4, 3, 4},               // 2.67 rounds up
                    FitCase{3, 4, 2, 2, 2},               // 1.5 rounds up
                    FitCase{1, 3000, 256, 1, 256},        // a sliver keeps one pixel
                    FitCase{3000, 1, 4096, 4096, 1},
                    FitCase{595, 842, 1, 1, 1}));

TEST_P(FitTest, LongerEdgeIsTheSizeAndTheShorterKeepsTheShape)
{
    const FitCase& c = GetParam();
    const PixelSize size = FitToLongerEdge(c.width, c.height, c.edge);
    EXPECT_EQ(size.width, c.expectedWidth);
    EXPECT_EQ(size.height, c.expectedHeight);
}

TEST(SizeArgumentTest, DecimalDigitsOnlyCappedAtTheLargestEdge)
{
    const struct {
        const wchar_t* text;
        int size;
    } cases[] = {
        {L"256", 256}, {L"1", 1}, {L"4096", 4096}, {L"4097", 4096}, {L"00012", 12},
        {L"99999999999999999999999", 4096},  // saturates instead of overflowing
        {L"0", 0}, {L"", 0}, {L"-5", 0}, {L"+5", 0}, {L" 5", 0}, {L"12x", 0}, {L"1.5", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseSize(c.text), c.size) << tool_testing::Narrow(c.text);
    }
}

struct WidthFitCase {
    float width;
    float height;
    int asked;
    int expectedWidth;
    int expectedHeight;
};

std::ostream& operator<<(std::ostream& out, const WidthFitCase& c)
{
    return out << c.width << "x" << c.height << " at " << c.asked;
}

class WidthFitTest : public testing::TestWithParam<WidthFitCase> {};

INSTANTIATE_TEST_SUITE_P(
    Pages, WidthFitTest,
    testing::Values(WidthFitCase{595, 842, 600, 600, 849},      // A4: 849.07
                    WidthFitCase{612, 792, 600, 600, 776},      // US Letter: 776.47
                    WidthFitCase{842, 595, 600, 600, 424},      // A4 landscape: 423.99
                    WidthFitCase{1920, 1080, 600, 600, 338},    // 16:9: 337.5 rounds up
                    WidthFitCase{595, 842, 1, 1, 1},            // 1.4
                    WidthFitCase{14400, 3, 4096, 4096, 1},      // a sliver across keeps one pixel
                    WidthFitCase{500, 500, 4096, 4096, 4096},   // exactly the cap is not past it
                    WidthFitCase{595, 842, 2894, 2894, 4095},   // 4095.4, just under the cap
                    WidthFitCase{595, 842, 2895, 2894, 4096},   // 4096.8: capped, the width in proportion
                    WidthFitCase{612, 792, 4096, 3165, 4096},   // as the thumbnail at 4096
                    WidthFitCase{3, 3000, 600, 4, 4096},        // a sliver down: 600,000 high asked
                    WidthFitCase{3, 14400, 1, 1, 4096}));       // 4,800 high asked, at least 1 wide

TEST_P(WidthFitTest, WidthIsAskedForAndTheHeightKeepsTheShapeUpToTheCap)
{
    const WidthFitCase& c = GetParam();
    const PixelSize size = FitToWidth(c.width, c.height, c.asked);
    EXPECT_EQ(size.width, c.expectedWidth);
    EXPECT_EQ(size.height, c.expectedHeight);
}

// Both programs call it with whatever a page list holds: it answers every input without overflow.
TEST(PageHeightForWidthTest, StaysWithinOneAndItsMaximum)
{
    const float infinity = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float width;
        float height;
        int asked;
        int expected;
    } cases[] = {
        {3, 14400, 4096, kMaxPageHeightForWidth},  // 19,660,800 asked
        {1, infinity, 100, kMaxPageHeightForWidth},
        {infinity, 842, 100, 1},
        {nan, 842, 100, 1},
        {595, nan, 100, 1},
        {0, 842, 100, 1},
        {-595, 842, 100, 1},
        {595, 842, 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PageHeightForWidth(c.width, c.height, c.asked), c.expected) << c.width << "x" << c.height;
    }
}

TEST(PageArgumentsTest, PagesFromOneAndWidthsFromOneTo4096)
{
    const struct {
        const wchar_t* page;
        const wchar_t* width;
        bool accepted;
        long long pageNumber;
        int pixels;
    } cases[] = {
        {L"1", L"300", true, 1, 300},
        {L"00012", L"4096", true, 12, 4096},
        {L"100000", L"1", true, 100000, 1},
        {L"100001", L"1", true, kMaxPreviewPages + 1, 1},            // past any list: saturates
        {L"99999999999999999999999", L"1", true, kMaxPreviewPages + 1, 1},  // without overflowing
        {L"0", L"300", false, 0, 0},
        {L"+1", L"300", false, 0, 0},
        {L"1", L"4097", false, 0, 0},
        {L"1", L"0", false, 0, 0},
        {L"1", L"30 0", false, 0, 0},
    };
    for (const auto& c : cases) {
        std::wstring line[] = {L"TorvView.exe", L"--page", L"doc.pdf", c.page, c.width, L"result.tmp", L"list.tmp"};
        wchar_t* argv[] = {&line[0][0], &line[1][0], &line[2][0], &line[3][0], &line[4][0], &line[5][0], &line[6][0]};
        PageArguments arguments;
        const std::string label = tool_testing::Narrow(std::wstring(c.page) + L" " + c.width);
        ASSERT_EQ(ParsePageArguments(7, argv, arguments), c.accepted) << label;
        if (c.accepted) {
            EXPECT_EQ(arguments.pageNumber, c.pageNumber) << label;
            EXPECT_EQ(arguments.width, c.pixels) << label;
            EXPECT_EQ(arguments.documentPath, L"doc.pdf");
            EXPECT_EQ(arguments.resultPath, L"result.tmp");
            EXPECT_EQ(arguments.pageListPath, L"list.tmp");
        }
    }
}

TEST(PageListFileTest, WritesTheCountThenEachPagesWidthAndHeightAsFloats)
{
    const std::wstring path = testing_support::TempDir() + L"\\pages.tmp";
    tool_testing::WriteFileBytes(path, std::string(100, 'x'));
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    const bool written = WritePageListFile(file, {{595.0f, 842.0f}, {0.5f, 14400.0f}});
    CloseHandle(file);

    ASSERT_TRUE(written);
    // 595 is 0x4414C000 as a float, 842 0x44528000, 0.5 0x3F000000, 14400 0x46610000.
    const std::vector<BYTE> expected = {
        2, 0, 0, 0,
        0x00, 0xC0, 0x14, 0x44, 0x00, 0x80, 0x52, 0x44,
        0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x61, 0x46,
    };
    EXPECT_EQ(tool_testing::ReadFileBytes(path), expected);
    DeleteFileW(path.c_str());
}

std::vector<uint8_t> PageListBytes(uint32_t count, std::vector<float> values)
{
    std::vector<uint8_t> bytes(4 + values.size() * 4);
    std::memcpy(bytes.data(), &count, 4);
    std::memcpy(bytes.data() + 4, values.data(), values.size() * 4);
    return bytes;
}

TEST(PageListFileTest, ReadsOnlyACompleteListOfUsableSizes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    std::vector<uint8_t> shortByOne = PageListBytes(1, {595, 842});
    shortByOne.pop_back();
    std::vector<uint8_t> oneTooMany = PageListBytes(1, {595, 842});
    oneTooMany.push_back(0);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } rejected[] = {
        {"empty", {}},
        {"count cut short", {1, 0, 0}},
        {"no pages", PageListBytes(0, {})},
        {"more than the most pages", PageListBytes(kMaxPreviewPages + 1, {})},
        {"a byte short", shortByOne},
        {"a byte more", oneTooMany},
        {"count larger than the sizes", PageListBytes(2, {595, 842})},
        {"zero width", PageListBytes(1, {0, 842})},
        {"negative height", PageListBytes(1, {595, -842})},
        {"not a number", PageListBytes(1, {nan, 842})},
        {"infinite", PageListBytes(1, {595, infinity})},
    };
    for (const auto& c : rejected) {
        std::vector<PageSizePt> pages = {{1, 2}};
        EXPECT_FALSE(DecodePageList(c.bytes.data(), c.bytes.size(), pages)) << c.name;
        ASSERT_EQ(pages.size(), 1u) << c.name << ": left untouched";
        EXPECT_EQ(pages[0].width, 1.0f) << c.name;
    }

    std::vector<PageSizePt> pages;
    const std::vector<uint8_t> two = PageListBytes(2, {595, 842, 0.25f, 14400});
    ASSERT_TRUE(DecodePageList(two.data(), two.size(), pages));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].width, 595.0f);
    EXPECT_EQ(pages[0].height, 842.0f);
    EXPECT_EQ(pages[1].width, 0.25f);
    EXPECT_EQ(pages[1].height, 14400.0f);
    EXPECT_EQ(EncodePageList(pages), two);
}

TEST(ResultWriterTest, WritesTheSizeThenOpaqueBgraRowsFromTheTop)
{
    // 2 x 2 pixels in rows of 8 bytes: the two bytes after each row are padding and must not leak.
    const uint8_t rgb[] = {
        0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0xEE, 0xEE,
        0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xEE, 0xEE,
    };
    const std::wstring path = testing_support::TempDir() + L"\\written.tmp";
    tool_testing::WriteFileBytes(path, std::string(100, 'x'));
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    const bool written = WriteResultFile(file, RgbPixels{2, 2, 8, rgb});
    CloseHandle(file);

    ASSERT_TRUE(written);
    const std::vector<BYTE> expected = {
        2, 0, 0, 0, 2, 0, 0, 0,
        0x30, 0x20, 0x10, 0xFF, 0x60, 0x50, 0x40, 0xFF,
        0x90, 0x80, 0x70, 0xFF, 0xC0, 0xB0, 0xA0, 0xFF,
    };
    EXPECT_EQ(tool_testing::ReadFileBytes(path), expected);
    DeleteFileW(path.c_str());
}

TEST(ResultWriterTest, RowsWiderThanABatchAreWrittenWhole)
{
    // 300,000 pixels per row: 1.2 MB, more than one batch of rows.
    const int width = 300000;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3 * 2);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 7);
    }
    const std::wstring path = testing_support::TempDir() + L"\\wide.tmp";
    tool_testing::WriteFileBytes(path, "");
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    const bool written = WriteResultFile(file, RgbPixels{width, 2, width * 3, rgb.data()});
    CloseHandle(file);

    ASSERT_TRUE(written);
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 8 + static_cast<size_t>(width) * 2 * 4);
    for (size_t pixel = 0; pixel < static_cast<size_t>(width) * 2; ++pixel) {
        ASSERT_EQ(bytes[8 + pixel * 4], rgb[pixel * 3 + 2]) << pixel;
        ASSERT_EQ(bytes[8 + pixel * 4 + 2], rgb[pixel * 3]) << pixel;
    }
    DeleteFileW(path.c_str());
}

// Every seek the engine makes, within the window, before it, past it and from the end, reads the
// file's own bytes.
TEST(WindowedFileTest, ReadsTheFilesBytesAfterEverySeek)
{
    std::string bytes(kFileWindowBytes * 3 + 1000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
    }
    const std::wstring path = testing_support::TempDir() + L"\\windowed.bin";
    tool_testing::WriteFileBytes(path, bytes);
    const int64_t window = static_cast<int64_t>(kFileWindowBytes);
    const int64_t size = static_cast<int64_t>(bytes.size());
    const struct {
        int64_t offset;
        int whence;
        size_t count;
        int64_t expectedAt;  // where the bytes read start in the file
    } reads[] = {
        {0, SEEK_SET, 100, 0},                     // the first window
        {50, SEEK_SET, 100, 50},                   // back, within it
        {window - 10, SEEK_SET, 30, window - 10},  // across the window's end
        {5, SEEK_SET, 10, 5},                      // back before the current window
        {20, SEEK_CUR, 10, 35},                    // from the current position
        {window, SEEK_SET, 10, window},            // exactly at a window's end
        {-200, SEEK_END, 300, size - 200},         // from the end: only 200 are left
        {size, SEEK_SET, 10, size},                // at the end: nothing
        {2 * window + 7, SEEK_SET, kFileWindowBytes + 100, 2 * window + 7},  // more than a window
    };
    fz_context* ctx = fz_new_context(nullptr, nullptr, 0);
    ASSERT_NE(ctx, nullptr);
    FILE* file = _wfopen(path.c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    fz_stream* stream = OpenWindowedFile(ctx, file);
    std::vector<unsigned char> read(kFileWindowBytes * 2);
    for (const auto& r : reads) {
        fz_seek(ctx, stream, r.offset, r.whence);
        EXPECT_EQ(fz_tell(ctx, stream), r.expectedAt) << r.offset << " from " << r.whence;
        const size_t got = fz_read(ctx, stream, read.data(), r.count);
        const size_t available = static_cast<size_t>(size - r.expectedAt);
        ASSERT_EQ(got, r.count < available ? r.count : available) << r.offset << " from " << r.whence;
        EXPECT_EQ(std::memcmp(read.data(), bytes.data() + r.expectedAt, got), 0) << r.offset << " from " << r.whence;
    }
    fz_drop_stream(ctx, stream);
    fz_drop_context(ctx);
    DeleteFileW(path.c_str());
}

TEST(MemoryCeilingTest, RefusesWhatWouldPassTheCeilingAndCountsWhatIsFreed)
{
    MemoryCeiling ceiling(1000);
    const fz_alloc_context* allocator = ceiling.Allocator();
    void* user = allocator->user;

    void* first = allocator->malloc(user, 600);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 16, 0u) << "as aligned as malloc's blocks";
    EXPECT_FALSE(ceiling.WasReached());

    EXPECT_EQ(allocator->malloc(user, 401), nullptr) << "600 + 401 is past 1000";
    EXPECT_TRUE(ceiling.WasReached());

    void* second = allocator->malloc(user, 400);
    ASSERT_NE(second, nullptr) << "600 + 400 is exactly the ceiling";
    allocator->free(user, second);

    // Growing past the ceiling fails and keeps the old block, still counted.
    std::memset(first, 0xAB, 600);
    EXPECT_EQ(allocator->realloc(user, first, 1001), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(first)[599], 0xAB);
    EXPECT_EQ(allocator->malloc(user, 401), nullptr);

    void* grown = allocator->realloc(user, first, 1000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(grown)[599], 0xAB);
    EXPECT_EQ(ceiling.PeakBytes(), 1000u);
    allocator->free(user, grown);

    void* whole = allocator->malloc(user, 1000);
    EXPECT_NE(whole, nullptr) << "everything freed is available again";
    allocator->free(user, whole);
    allocator->free(user, nullptr);
}

// Within the ceiling the system may still refuse (the job's memory limit on Windows): the page is
// then as incomplete as at the ceiling.
TEST(MemoryCeilingTest, ARefusalByTheSystemCountsAsReachingTheCeiling)
{
    MemoryCeiling ceiling(size_t(1) << 62);
    const fz_alloc_context* allocator = ceiling.Allocator();
    void* user = allocator->user;
    const size_t moreThanTheAddressSpace = size_t(1) << 50;

    EXPECT_EQ(allocator->malloc(user, moreThanTheAddressSpace), nullptr);
    EXPECT_TRUE(ceiling.WasReached());

    MemoryCeiling growing(size_t(1) << 62);
    void* block = growing.Allocator()->malloc(growing.Allocator()->user, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_FALSE(growing.WasReached());
    EXPECT_EQ(growing.Allocator()->realloc(growing.Allocator()->user, block, moreThanTheAddressSpace), nullptr);
    EXPECT_TRUE(growing.WasReached());
    growing.Allocator()->free(growing.Allocator()->user, block);
}

TEST(TimeBudgetTest, AsksTheEngineToStopOnceSpent)
{
    fz_cookie cookie{};
    TimeBudget budget(cookie, 50, 60000);

    for (int waited = 0; waited < 5000 && !cookie.abort; waited += 10) {
        Sleep(10);
    }
    EXPECT_EQ(cookie.abort, 1);
    EXPECT_TRUE(budget.WasSpent());
    EXPECT_FALSE(budget.BeginWriting()) << "a spent budget writes nothing";
}

TEST(TimeBudgetTest, LeavesAQuickRenderAlone)
{
    fz_cookie cookie{};
    {
        TimeBudget budget(cookie, 60000, 61000);
        EXPECT_TRUE(budget.BeginWriting());
        EXPECT_FALSE(budget.WasSpent());
    }
    EXPECT_EQ(cookie.abort, 0);
}

// An engine that never looks at the stop request is ended at the hard stop, with the limit's code.
TEST(TimeBudgetDeathTest, EndsTheProcessAtTheHardStop)
{
    EXPECT_EXIT(
        {
            fz_cookie cookie{};
            TimeBudget budget(cookie, 20, 100);
            Sleep(20000);
            std::exit(0);
        },
        testing::ExitedWithCode(kExitResourceLimit), "");
}

// Wine ends a thread whose stack overflowed without handing the fault to the filter; the process then
// ends at once with the limit's code instead of waiting for the hard stop.
TEST(TimeBudgetDeathTest, EndsTheProcessWhenTheRenderingThreadIsGone)
{
    EXPECT_EXIT(
        {
            fz_cookie cookie{};
            const HANDLE renderer = CreateThread(
                nullptr, 0,
                [](void* c) -> DWORD {
                    // Never destroyed, as when the thread ends on a fault.
                    new TimeBudget(*static_cast<fz_cookie*>(c), 60000, 61000);
                    return 0;
                },
                &cookie, 0, nullptr);
            WaitForSingleObject(renderer, INFINITE);
            Sleep(20000);
            std::exit(0);
        },
        testing::ExitedWithCode(kExitResourceLimit), "");
}

// Once the result is being written, the hard stop passes: the file is finished, not cut off.
TEST(TimeBudgetDeathTest, NeverEndsTheProcessWhileTheResultIsWritten)
{
    EXPECT_EXIT(
        {
            fz_cookie cookie{};
            TimeBudget budget(cookie, 20, 100);
            budget.BeginWriting();
            Sleep(500);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
