// The stand-in TorvView.exe against the renderer contract: its arguments, its exit codes and the
// result files it writes, as a table of cases run as real processes.
#include "support/test_support.h"
#include "thumbnail/render_command.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

namespace {

using tool_testing::FileSize;
using tool_testing::Quote;

constexpr DWORD kPaper = 0xFFFFFFFFu;
constexpr DWORD kExitUsage = 2;
constexpr DWORD kExitDocumentUnreadable = 3;
constexpr DWORD kExitNotPdf = 4;
constexpr DWORD kExitResultNotWritable = 5;

std::wstring Docs()
{
    return testing_support::TempDir() + L"\\docs";
}

std::wstring Document(const std::wstring& name)
{
    return Docs() + L"\\" + name;
}

// A fresh, empty result file, as the DLL makes it.
std::wstring EmptyResultFile()
{
    const std::wstring path = testing_support::TempDir() + L"\\result.tmp";
    tool_testing::WriteFileBytes(path, std::string());
    return path;
}

DWORD RunViewer(const std::wstring& arguments)
{
    return tool_testing::Run(Quote(tool_testing::ViewerPath()) + L" " + arguments).exitCode;
}

std::wstring ThumbArguments(const std::wstring& document, const std::wstring& size, const std::wstring& result)
{
    return L"--thumb " + Quote(document) + L" " + size + L" " + Quote(result);
}

class ViewerTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        tool_testing::WriteFileBytes(Document(L"valid.pdf"),
                                     "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n%%EOF\n");
        tool_testing::WriteFileBytes(Document(L"header-only.pdf"), "%PDF-");
        tool_testing::WriteFileBytes(Document(L"short-header.pdf"), "%PDF");
        tool_testing::WriteFileBytes(Document(L"empty.pdf"), "");
        tool_testing::WriteFileBytes(Document(L"text.pdf"), "Plain text, not a document.\n");
        tool_testing::WriteFileBytes(Document(L"damaged.pdf"), std::string(16, '\0') + "0 obj\n<< /Type /Catalog >>");
        tool_testing::WriteFileBytes(Document(L"lowercase.pdf"), "%pdf-1.4\n");
    }
};

struct PageCase {
    const wchar_t* document;
    const wchar_t* size;
    int32_t width;
    int32_t height;
};

std::ostream& operator<<(std::ostream& out, const PageCase& c)
{
    return out << tool_testing::Narrow(c.document) << " at " << tool_testing::Narrow(c.size);
}

class ViewerPageTest : public ViewerTest, public testing::WithParamInterface<PageCase> {};

// Portrait A4 proportions, the longer edge the requested size capped at 4096, width rounded.
INSTANTIATE_TEST_SUITE_P(Sizes, ViewerPageTest,
                         testing::Values(PageCase{L"valid.pdf", L"256", 181, 256},
                                         PageCase{L"valid.pdf", L"100", 71, 100},
                                         PageCase{L"valid.pdf", L"3", 2, 3},
                                         PageCase{L"valid.pdf", L"1", 1, 1},
                                         PageCase{L"valid.pdf", L"4096", 2896, 4096},
                                         PageCase{L"valid.pdf", L"5000", 2896, 4096},
                                         PageCase{L"valid.pdf", L"99999999999999999999", 2896, 4096},
                                         PageCase{L"header-only.pdf", L"64", 45, 64}));

TEST_P(ViewerPageTest, WritesAnOpaqueWhitePageWithABorder)
{
    const PageCase& page = GetParam();
    const std::wstring result = EmptyResultFile();

    ASSERT_EQ(RunViewer(ThumbArguments(Document(page.document), page.size, result)), 0u);

    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(result);
    const size_t pixelCount = static_cast<size_t>(page.width) * static_cast<size_t>(page.height);
    ASSERT_EQ(bytes.size(), 8 + pixelCount * 4);
    int32_t header[2] = {};
    std::memcpy(header, bytes.data(), sizeof(header));
    EXPECT_EQ(header[0], page.width);
    EXPECT_EQ(header[1], page.height);

    std::vector<DWORD> pixels(pixelCount);
    std::memcpy(pixels.data(), bytes.data() + 8, pixelCount * 4);
    const auto at = [&](int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * page.width + x]; };
    size_t white = 0;
    for (const DWORD pixel : pixels) {
        ASSERT_EQ(pixel >> 24, 0xFFu) << "every pixel is opaque";
        white += pixel == kPaper ? 1 : 0;
    }
    // The edges are border, never paper.
    for (int32_t x = 0; x < page.width; ++x) {
        ASSERT_NE(at(x, 0), kPaper);
        ASSERT_NE(at(x, page.height - 1), kPaper);
    }
    for (int32_t y = 0; y < page.height; ++y) {
        ASSERT_NE(at(0, y), kPaper);
        ASSERT_NE(at(page.width - 1, y), kPaper);
    }
    // A thin border around white paper.
    if (page.height >= 100) {
        EXPECT_EQ(at(page.width / 2, page.height / 2), kPaper);
        EXPECT_GT(white, pixelCount * 9 / 10);
    }
}

struct RejectCase {
    const char* name;
    std::wstring arguments;  // "%doc%" and "%result%" stand for the document and the result file
    DWORD exitCode;
};

std::ostream& operator<<(std::ostream& out, const RejectCase& c)
{
    return out << c.name;
}

class ViewerRejectTest : public ViewerTest, public testing::WithParamInterface<RejectCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, ViewerRejectTest,
    testing::Values(RejectCase{"no_arguments", L"", kExitUsage},
                    RejectCase{"mode_only", L"--thumb", kExitUsage},
                    RejectCase{"no_result_file", L"--thumb \"%doc%\" 256", kExitUsage},
                    RejectCase{"extra_argument", L"--thumb \"%doc%\" 256 \"%result%\" extra", kExitUsage},
                    RejectCase{"other_mode", L"--view \"%doc%\" 256 \"%result%\"", kExitUsage},
                    RejectCase{"size_zero", L"--thumb \"%doc%\" 0 \"%result%\"", kExitUsage},
                    RejectCase{"size_negative", L"--thumb \"%doc%\" -5 \"%result%\"", kExitUsage},
                    RejectCase{"size_not_a_number", L"--thumb \"%doc%\" 12x \"%result%\"", kExitUsage},
                    RejectCase{"size_empty", L"--thumb \"%doc%\" \"\" \"%result%\"", kExitUsage},
                    RejectCase{"document_missing", L"--thumb \"%docs%\\missing.pdf\" 256 \"%result%\"",
                               kExitDocumentUnreadable},
                    RejectCase{"document_is_a_directory", L"--thumb \"%docs%\" 256 \"%result%\"",
                               kExitDocumentUnreadable},
                    RejectCase{"document_empty", L"--thumb \"%docs%\\empty.pdf\" 256 \"%result%\"", kExitNotPdf},
                    RejectCase{"header_cut_short", L"--thumb \"%docs%\\short-header.pdf\" 256 \"%result%\"",
                               kExitNotPdf},
                    RejectCase{"plain_text", L"--thumb \"%docs%\\text.pdf\" 256 \"%result%\"", kExitNotPdf},
                    RejectCase{"damaged_header", L"--thumb \"%docs%\\damaged.pdf\" 256 \"%result%\"", kExitNotPdf},
                    RejectCase{"lowercase_header", L"--thumb \"%docs%\\lowercase.pdf\" 256 \"%result%\"",
                               kExitNotPdf}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST_P(ViewerRejectTest, ExitsNonzeroAndWritesNothing)
{
    const std::wstring result = EmptyResultFile();
    std::wstring arguments = GetParam().arguments;
    ReplaceAll(arguments, {{L"%doc%", Document(L"valid.pdf")}, {L"%docs%", Docs()}, {L"%result%", result}});

    EXPECT_EQ(RunViewer(arguments), GetParam().exitCode);
    EXPECT_EQ(FileSize(result), 0);
}

TEST_F(ViewerTest, DocumentThatCannotBeReadIsRejected)
{
    const std::wstring document = Document(L"locked.pdf");
    tool_testing::WriteFileBytes(document, "%PDF-1.4\n");
    const std::wstring result = EmptyResultFile();
    // Held open with no sharing: nobody else may read it.
    const HANDLE lock = CreateFileW(document.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    const DWORD exitCode = RunViewer(ThumbArguments(document, L"256", result));
    CloseHandle(lock);

    EXPECT_EQ(exitCode, kExitDocumentUnreadable);
    EXPECT_EQ(FileSize(result), 0);
}

// The contract hands over an existing file; the stand-in never creates one elsewhere.
TEST_F(ViewerTest, MissingResultFileIsNotCreated)
{
    const std::wstring result = testing_support::TempDir() + L"\\never-made.tmp";

    EXPECT_EQ(RunViewer(ThumbArguments(Document(L"valid.pdf"), L"256", result)), kExitResultNotWritable);
    EXPECT_FALSE(tool_testing::FileExists(result));
}

TEST_F(ViewerTest, LongerResultFileIsReplacedWhole)
{
    const std::wstring result = testing_support::TempDir() + L"\\stale.tmp";
    tool_testing::WriteFileBytes(result, std::string(100000, 'x'));

    ASSERT_EQ(RunViewer(ThumbArguments(Document(L"valid.pdf"), L"10", result)), 0u);

    // 7x10 pixels after the header: nothing of the old content is left behind.
    EXPECT_EQ(FileSize(result), 8 + 7 * 10 * 4);
}

// Started hidden by the DLL, it must never open a console either.
TEST_F(ViewerTest, IsAGuiSubsystemProgram)
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
