// TorvView.exe run as a real process, as the DLL starts it: the outcome for each kind of document
// (exit code, and a complete result file or an untouched one), its arguments, and its result file.
// That the pixels show the page is checked against the engine's native rendering in reference_test.py.
#include "renderer/exit_code.h"
#include "renderer/limits.h"
#include "support/test_support.h"
#include "thumbnail/render_command.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

namespace {

using testing_support::WriteDocument;
using tool_testing::FileSize;
using tool_testing::Quote;
using tool_testing::ThumbArguments;
using tool_testing::ReadRendererResult;
using tool_testing::RendererResult;

std::wstring Docs()
{
    return testing_support::TempDir() + L"\\docs";
}

std::wstring Document(const std::wstring& name)
{
    return Docs() + L"\\" + name;
}

std::wstring TestDocument(const std::wstring& name)
{
    return tool_testing::DocumentsDir() + L"\\" + name;
}

std::wstring Sample(const std::wstring& name)
{
    return tool_testing::SamplesDir() + L"\\" + name;
}

// A fresh, empty result file, as the DLL makes it.
std::wstring EmptyResultFile()
{
    const std::wstring path = testing_support::TempDir() + L"\\result.tmp";
    tool_testing::WriteFileBytes(path, std::string());
    return path;
}

DWORD RunRenderer(const std::wstring& arguments)
{
    return tool_testing::Run(Quote(tool_testing::ViewerPath()) + L" " + arguments).exitCode;
}

class TorvViewTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WriteDocument(L"empty.pdf", "");
        WriteDocument(L"short-header.pdf", "%PDF");
        WriteDocument(L"header-only.pdf", "%PDF-");
        WriteDocument(L"lowercase.pdf", "%pdf-1.4\n");
        WriteDocument(L"text.pdf", "Plain text, not a document.\n");
        WriteDocument(L"catalog-only.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n%%EOF\n");
        // Bytes before the header, as some producers write them: readers look for it in the first 1 KB.
        const std::vector<BYTE> letter = tool_testing::ReadFileBytes(Sample(L"letter.pdf"));
        WriteDocument(L"leading-bytes.pdf", std::string(600, ' ') + std::string(letter.begin(), letter.end()));
        WriteDocument(L"header-too-late.pdf", std::string(1100, ' ') + std::string(letter.begin(), letter.end()));
    }
};

// Where a case's document lies: the samples, the documents generated at build time, or those this
// test writes. Paths are known only once the test program runs.
enum Folder { kSample, kGenerated, kWritten };

std::wstring PathOf(Folder folder, const wchar_t* name)
{
    switch (folder) {
    case kSample:
        return Sample(name);
    case kGenerated:
        return TestDocument(name);
    case kWritten:
        break;
    }
    return name[0] == L'\0' ? Docs() : Document(name);
}

struct OutcomeCase {
    const char* name;
    Folder folder;
    const wchar_t* document;  // empty: the folder itself
    const wchar_t* size;
    DWORD exitCode;
    int32_t width;  // of the result, when exitCode is 0
    int32_t height;
};

std::ostream& operator<<(std::ostream& out, const OutcomeCase& c)
{
    return out << c.name;
}

class TorvViewOutcomeTest : public TorvViewTest, public testing::WithParamInterface<OutcomeCase> {};

// Sizes follow the page's visible area: US Letter 612 x 792, A4 595 x 842, 16:9, a 4:3 photo, an
// A4 page turned by /Rotate, and a square crop box on an A4 media box.
INSTANTIATE_TEST_SUITE_P(
    Documents, TorvViewOutcomeTest,
    testing::Values(
        OutcomeCase{"letter", kSample, L"letter.pdf", L"256", kExitOk, 198, 256},
        OutcomeCase{"report_first_of_several_pages", kSample, L"report.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"slide_landscape", kSample, L"slide.pdf", L"256", kExitOk, 256, 144},
        OutcomeCase{"photo", kSample, L"photo.pdf", L"256", kExitOk, 256, 193},
        OutcomeCase{"rotated_90", kSample, L"rotated-90.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"crop_box", kSample, L"crop-box.pdf", L"256", kExitOk, 256, 256},
        // Drawn with an installed Japanese font where there is one, and without its text otherwise.
        OutcomeCase{"fonts_not_embedded", kSample, L"japanese.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"smallest_size", kSample, L"letter.pdf", L"1", kExitOk, 1, 1},
        OutcomeCase{"largest_size", kSample, L"letter.pdf", L"4096", kExitOk, 3165, 4096},
        OutcomeCase{"size_capped", kSample, L"slide.pdf", L"99999999999", kExitOk, 4096, 2304},
        OutcomeCase{"sliver_keeps_one_pixel", kGenerated, L"sliver-page.pdf", L"256", kExitOk, 1, 256},
        OutcomeCase{"leading_bytes_before_header", kWritten, L"leading-bytes.pdf", L"256", kExitOk, 198, 256},
        OutcomeCase{"empty_user_password", kGenerated, L"owner-password-only.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"broken_xref_repaired", kGenerated, L"broken-xref.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"ten_thousand_pages", kGenerated, L"ten-thousand-pages.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"user_password", kGenerated, L"user-password.pdf", L"256", kExitPasswordProtected, 0, 0},
        OutcomeCase{"no_pages", kGenerated, L"no-pages.pdf", L"256", kExitEngineFailed, 0, 0},
        OutcomeCase{"catalog_without_page_tree", kWritten, L"catalog-only.pdf", L"256", kExitEngineFailed, 0, 0},
        OutcomeCase{"header_only", kWritten, L"header-only.pdf", L"256", kExitEngineFailed, 0, 0},
        OutcomeCase{"truncated", kGenerated, L"truncated.pdf", L"256", kExitEngineFailed, 0, 0},
        OutcomeCase{"image_70000_pixels_wide", kGenerated, L"wide-image.pdf", L"256", kExitOk, 181, 256},
        OutcomeCase{"indexed_image_subsampled_while_decoded", kGenerated, L"huge-image.pdf", L"256", kExitOk, 181,
                    256},
        OutcomeCase{"image_past_the_memory_ceiling", kGenerated, L"huge-keyed-image.pdf", L"256", kExitResourceLimit,
                    0, 0},
        // Recursions the engine now cuts short (a cycle check deeper than 256 counts as a cycle): resources
        // nested 80,000 deep once overflowed the stack, and forms nested 30,000 deep kept the page loading past
        // the watchdog; the forms' drawing then gives up at the engine's exception depth.
        OutcomeCase{"resources_nested_eighty_thousand_deep", kGenerated, L"deep-resources.pdf", L"256", kExitOk, 181,
                    256},
        OutcomeCase{"forms_nested_thirty_thousand_deep", kGenerated, L"deep-forms.pdf", L"256", kExitEngineFailed, 0,
                    0},
        // Work that no operator boundary interrupts, stopped by the time budget all the same.
        OutcomeCase{"content_of_gigabytes_of_spaces", kGenerated, L"whitespace-bomb.pdf", L"256", kExitResourceLimit,
                    0, 0},
        OutcomeCase{"content_of_gigabytes_of_operators", kGenerated, L"operator-bomb.pdf", L"256", kExitResourceLimit,
                    0, 0},
        OutcomeCase{"image_of_gigabytes", kGenerated, L"image-bomb.pdf", L"256", kExitResourceLimit, 0, 0},
        OutcomeCase{"glyph_run_from_memory_four_hundred_times", kGenerated, L"type3-glyph-bomb.pdf", L"256",
                    kExitResourceLimit, 0, 0},
        OutcomeCase{"pattern_of_a_hundred_trillion_tiles", kGenerated, L"tiny-tiles.pdf", L"256", kExitResourceLimit,
                    0, 0},
        OutcomeCase{"damaged_header", kSample, L"damaged.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"not_a_pdf", kSample, L"notes.txt", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"header_past_the_first_kilobyte", kWritten, L"header-too-late.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"document_empty", kWritten, L"empty.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"header_cut_short", kWritten, L"short-header.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"lowercase_header", kWritten, L"lowercase.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"plain_text", kWritten, L"text.pdf", L"256", kExitNotPdf, 0, 0},
        OutcomeCase{"document_missing", kWritten, L"missing.pdf", L"256", kExitDocumentUnreadable, 0, 0},
        OutcomeCase{"document_is_a_directory", kWritten, L"", L"256", kExitDocumentUnreadable, 0, 0}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

// Every case ends before the watchdog's hard stop, counted from before the process started: a
// render that reaches a bound is ended by the renderer's own budget, never by the watchdog.
TEST_P(TorvViewOutcomeTest, WritesACompleteResultOrNothing)
{
    const OutcomeCase& c = GetParam();
    const std::wstring result = EmptyResultFile();

    const ULONGLONG started = GetTickCount64();
    ASSERT_EQ(RunRenderer(ThumbArguments(PathOf(c.folder, c.document), c.size, result)), c.exitCode);
    const ULONGLONG elapsedMs = GetTickCount64() - started;
    EXPECT_LT(elapsedMs, kHardStopMs);
    if (c.exitCode == kExitResourceLimit) {
        std::printf("%s: exit code %lu after %llu ms\n", c.name, c.exitCode, elapsedMs);
    }

    if (c.exitCode != kExitOk) {
        EXPECT_EQ(FileSize(result), 0);
        return;
    }
    const RendererResult written = ReadRendererResult(result);
    EXPECT_TRUE(written.complete);
    EXPECT_TRUE(written.opaque);
    EXPECT_EQ(written.width, c.width);
    EXPECT_EQ(written.height, c.height);
}

struct RejectCase {
    const char* name;
    std::wstring arguments;  // "%doc%", "%result%" and "%list%" stand for a sample and the output files
};

std::ostream& operator<<(std::ostream& out, const RejectCase& c)
{
    return out << c.name;
}

class TorvViewUsageTest : public TorvViewTest, public testing::WithParamInterface<RejectCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, TorvViewUsageTest,
    testing::Values(RejectCase{"no_arguments", L""},
                    RejectCase{"mode_only", L"--thumb"},
                    RejectCase{"no_result_file", L"--thumb \"%doc%\" 256"},
                    RejectCase{"extra_argument", L"--thumb \"%doc%\" 256 \"%result%\" extra"},
                    RejectCase{"other_mode", L"--view \"%doc%\" 256 \"%result%\""},
                    RejectCase{"size_zero", L"--thumb \"%doc%\" 0 \"%result%\""},
                    RejectCase{"size_negative", L"--thumb \"%doc%\" -5 \"%result%\""},
                    RejectCase{"size_not_a_number", L"--thumb \"%doc%\" 12x \"%result%\""},
                    RejectCase{"size_empty", L"--thumb \"%doc%\" \"\" \"%result%\""},
                    RejectCase{"document_empty_name", L"--thumb \"\" 256 \"%result%\""},
                    // The page mode: --page <document> <page> <width> <result file> <page list file>.
                    RejectCase{"page_mode_only", L"--page"},
                    RejectCase{"page_no_page_list_file", L"--page \"%doc%\" 1 300 \"%result%\""},
                    RejectCase{"page_extra_argument", L"--page \"%doc%\" 1 300 \"%result%\" \"%list%\" extra"},
                    RejectCase{"page_zero", L"--page \"%doc%\" 0 300 \"%result%\" \"%list%\""},
                    RejectCase{"page_negative", L"--page \"%doc%\" -1 300 \"%result%\" \"%list%\""},
                    RejectCase{"page_not_a_number", L"--page \"%doc%\" one 300 \"%result%\" \"%list%\""},
                    RejectCase{"page_width_zero", L"--page \"%doc%\" 1 0 \"%result%\" \"%list%\""},
                    RejectCase{"page_width_past_4096", L"--page \"%doc%\" 1 4097 \"%result%\" \"%list%\""},
                    RejectCase{"page_width_empty", L"--page \"%doc%\" 1 \"\" \"%result%\" \"%list%\""},
                    RejectCase{"page_document_empty_name", L"--page \"\" 1 300 \"%result%\" \"%list%\""},
                    RejectCase{"page_list_empty_name", L"--page \"%doc%\" 1 300 \"%result%\" \"\""}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST_P(TorvViewUsageTest, ExitsWithTheUsageCodeAndWritesNothing)
{
    const std::wstring result = EmptyResultFile();
    const std::wstring pageList = testing_support::TempDir() + L"\\page-list.tmp";
    tool_testing::WriteFileBytes(pageList, std::string());
    std::wstring arguments = GetParam().arguments;
    ReplaceAll(arguments, {{L"%doc%", Sample(L"letter.pdf")}, {L"%result%", result}, {L"%list%", pageList}});

    EXPECT_EQ(RunRenderer(arguments), static_cast<DWORD>(kExitUsage));
    EXPECT_EQ(FileSize(result), 0);
    EXPECT_EQ(FileSize(pageList), 0);
}

TEST_F(TorvViewTest, DocumentHeldWithoutSharingIsUnreadable)
{
    const std::wstring document = WriteDocument(L"locked.pdf", "%PDF-1.4\n");
    const std::wstring result = EmptyResultFile();
    const HANDLE lock = CreateFileW(document.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    const DWORD exitCode = RunRenderer(ThumbArguments(document, L"256", result));
    CloseHandle(lock);

    EXPECT_EQ(exitCode, static_cast<DWORD>(kExitDocumentUnreadable));
    EXPECT_EQ(FileSize(result), 0);
}

// The Shell asks for thumbnails of documents that another program is still writing.
TEST_F(TorvViewTest, DocumentOpenForWritingElsewhereRenders)
{
    const std::vector<BYTE> letter = tool_testing::ReadFileBytes(Sample(L"letter.pdf"));
    const std::wstring document = WriteDocument(L"being-written.pdf", std::string(letter.begin(), letter.end()));
    const std::wstring result = EmptyResultFile();
    const HANDLE writer = CreateFileW(document.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);

    const DWORD exitCode = RunRenderer(ThumbArguments(document, L"64", result));
    CloseHandle(writer);

    EXPECT_EQ(exitCode, static_cast<DWORD>(kExitOk));
    EXPECT_TRUE(ReadRendererResult(result).complete);
}

// The contract hands over an existing file; the renderer never creates one elsewhere.
TEST_F(TorvViewTest, MissingResultFileIsNotCreated)
{
    const std::wstring result = testing_support::TempDir() + L"\\never-made.tmp";

    EXPECT_EQ(RunRenderer(ThumbArguments(Sample(L"letter.pdf"), L"256", result)),
              static_cast<DWORD>(kExitResultNotWritable));
    EXPECT_FALSE(tool_testing::FileExists(result));
}

TEST_F(TorvViewTest, ResultFileHeldByAnotherProgramIsLeftAlone)
{
    const std::wstring result = EmptyResultFile();
    const HANDLE holder =
        CreateFileW(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    const DWORD exitCode = RunRenderer(ThumbArguments(Sample(L"letter.pdf"), L"256", result));
    CloseHandle(holder);

    EXPECT_EQ(exitCode, static_cast<DWORD>(kExitResultNotWritable));
    EXPECT_EQ(FileSize(result), 0);
}

TEST_F(TorvViewTest, LongerResultFileIsReplacedWhole)
{
    const std::wstring result = testing_support::TempDir() + L"\\stale.tmp";
    tool_testing::WriteFileBytes(result, std::string(100000, 'x'));

    ASSERT_EQ(RunRenderer(ThumbArguments(Sample(L"report.pdf"), L"10", result)), static_cast<DWORD>(kExitOk));

    // 7x10 pixels after the header: nothing of the old content is left behind.
    EXPECT_EQ(FileSize(result), 8 + 7 * 10 * 4);
}

// Started hidden by the DLL, it must never open a console either.
TEST_F(TorvViewTest, IsAGuiSubsystemProgram)
{
    const std::vector<BYTE> image = tool_testing::ReadFileBytes(tool_testing::ViewerPath());
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos{};
    std::memcpy(&dos, image.data(), sizeof(dos));
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_LT(static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64), image.size());
    IMAGE_NT_HEADERS64 nt{};
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
    ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
