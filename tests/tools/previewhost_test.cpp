// The preview host, previewhost.exe, as a person runs it: torvpreview.dll registered with regsvr32,
// the test renderer's page mode in its RenderCommand, the pane's pictures and lines out.
#include "support/pattern.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tool_testing::DecodeImage;
using tool_testing::DecodedImage;
using tool_testing::LineStartingWith;
using tool_testing::ProcessResult;
using tool_testing::Quote;

const wchar_t kClassKey[] = L"CLSID\\{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}";
constexpr int kMargin = 10;

DWORD Regsvr32(const std::wstring& flags)
{
    return tool_testing::Run(L"regsvr32.exe " + flags + L" " + Quote(tool_testing::BinDir() + L"\\torvpreview.dll"))
        .exitCode;
}

class PreviewHostTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(Regsvr32(L"/s"), 0u);
        ASSERT_TRUE(tool_testing::SetClassesText(kClassKey, L"RenderCommand",
                                                 Quote(testing_support::RendererPath())
                                                     + L" --page \"%1\" %2 %3 \"%4\" \"%5\""));
    }

    static void TearDownTestSuite() { EXPECT_EQ(Regsvr32(L"/u /s"), 0u); }

    void SetUp() override
    {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        m_out = testing_support::TempDir() + L"\\" + std::wstring(name.begin(), name.end());
        CreateDirectoryW(m_out.c_str(), nullptr);
    }

    ProcessResult RunHost(const std::wstring& arguments) const
    {
        return tool_testing::Run(Quote(tool_testing::BinDir() + L"\\previewhost.exe") + L" " + arguments,
                                 testing_support::TempDir() + L"\\docs");
    }

    std::wstring m_out;
};

// The picture holds the test renderer's page 1 at the pane's page width, from the top margin.
void ExpectFirstPage(const DecodedImage& image)
{
    ASSERT_EQ(image.hr, S_OK);
    const UINT pageWidth = image.width - 2 * kMargin;
    for (UINT y = 0; y < 50; ++y) {
        for (UINT x = 0; x < pageWidth; ++x) {
            const DWORD pixel = image.Pixel(kMargin + x, kMargin + y);
            const uint64_t index = (static_cast<uint64_t>(y) * pageWidth + x) * 4;
            const DWORD expected = 0xFF000000u | static_cast<DWORD>(testing_support::PageByte(index + 2, 1)) << 16
                | static_cast<DWORD>(testing_support::PageByte(index + 1, 1)) << 8 | testing_support::PageByte(index, 1);
            ASSERT_EQ(pixel, expected) << "at " << x << ", " << y;
        }
    }
}

TEST_F(PreviewHostTest, PicturesOfThePaneAfterEachAction)
{
    testing_support::WriteDocument(L"four.pdf", "pages 4 612 792\n");
    const ProcessResult run =
        RunHost(L"--size 500x700 --out " + Quote(m_out) + L" --to-page 3 --key home --resize 400x300 four.pdf");
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    const struct {
        const char* prefix;
        const wchar_t* picture;
        UINT height;
    } lines[] = {
        {"four.pdf: S_OK 0x00000000 pages 1-", L"four.pdf.pane.png", 700},
        {"four.pdf: after --to-page 3: pages 3-", L"four.pdf.pane-page3.png", 700},
        {"four.pdf: after --key home: pages 1-", L"four.pdf.pane-home.png", 700},
        {"four.pdf: after --resize 400x300: pages 1-1 in view", L"four.pdf.pane-400x300.png", 300},
    };
    for (const auto& line : lines) {
        const std::string text = LineStartingWith(run.out, line.prefix);
        EXPECT_FALSE(text.empty()) << line.prefix << "\n" << run.out;
        EXPECT_NE(text.find(tool_testing::Narrow(line.picture)), std::string::npos) << text;
        const DecodedImage image = DecodeImage(m_out + L"\\" + line.picture);
        ASSERT_EQ(image.hr, S_OK) << tool_testing::Narrow(line.picture);
        EXPECT_EQ(image.height, line.height);
    }
    ExpectFirstPage(DecodeImage(m_out + L"\\four.pdf.pane.png"));
    ExpectFirstPage(DecodeImage(m_out + L"\\four.pdf.pane-home.png"));
    EXPECT_EQ(LineStartingWith(run.out, "summary:"), "summary: 1 of 1 files shown with their pages, 0 not");
}

TEST_F(PreviewHostTest, AStreamShowsWhatThePathShows)
{
    testing_support::WriteDocument(L"two.pdf", "pages 2 595 842\n");
    const ProcessResult byPath = RunHost(L"--out " + Quote(m_out + L"\\path") + L" two.pdf");
    const ProcessResult byStream = RunHost(L"--stream --out " + Quote(m_out + L"\\stream") + L" two.pdf");
    ASSERT_EQ(byPath.exitCode, 0u) << byPath.out;
    ASSERT_EQ(byStream.exitCode, 0u) << byStream.out;
    const DecodedImage path = DecodeImage(m_out + L"\\path\\two.pdf.pane.png");
    const DecodedImage stream = DecodeImage(m_out + L"\\stream\\two.pdf.pane.png");
    ASSERT_EQ(path.hr, S_OK);
    EXPECT_TRUE(path.bgra == stream.bgra);
    ExpectFirstPage(path);
}

TEST_F(PreviewHostTest, WhatCannotBeShownIsTold)
{
    testing_support::WriteDocument(L"locked.pdf", "exit 6\n");
    testing_support::WriteDocument(L"notes.txt", "plain text\n");
    const ProcessResult run = RunHost(L"--out " + Quote(m_out) + L" locked.pdf notes.txt missing.pdf");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(LineStartingWith(run.out, "locked.pdf: S_OK 0x00000000 message \"This PDF cannot be previewed: it is "
                                        "protected by a password.\"")
                  .find("-> "),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(tool_testing::FileExists(m_out + L"\\locked.pdf.pane.png")) << "the message is pictured too";
    const std::string notes = LineStartingWith(run.out, "notes.txt: HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION) 0x80070483");
    EXPECT_NE(notes.find("no preview handler is registered for \".txt\" files"), std::string::npos) << run.out;
    EXPECT_NE(notes.find("regsvr32 torvpreview.dll"), std::string::npos) << notes;
    EXPECT_FALSE(LineStartingWith(run.out, "missing.pdf: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)").empty()) << run.out;
    EXPECT_EQ(LineStartingWith(run.out, "summary:"), "summary: 0 of 3 files shown with their pages, 3 not");
}

TEST_F(PreviewHostTest, UsageErrors)
{
    const struct {
        const wchar_t* arguments;
        const char* reason;
    } cases[] = {
        {L"", "no files given"},
        {L"--size 0x5 a.pdf", "--size must be"},
        {L"--size 600 a.pdf", "--size must be"},
        {L"--resize 9000x10 a.pdf", "--resize must be"},
        {L"--key left a.pdf", "--key must be one of"},
        {L"--to-page 0 a.pdf", "--to-page must be"},
        {L"--out", "--out needs a value"},
        {L"--bogus a.pdf", "unknown option \"--bogus\""},
    };
    for (const auto& c : cases) {
        const ProcessResult run = RunHost(c.arguments);
        EXPECT_EQ(run.exitCode, 2u) << tool_testing::Narrow(c.arguments);
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    }
    const ProcessResult help = RunHost(L"--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.out.find("usage: previewhost"), std::string::npos);
}

}  // namespace
