// The whole path under Wine, as the README's main command takes it: torvthumb.dll registered with
// regsvr32, then the host on the sample documents through the registered DLL and the renderer, PNGs
// and a contact sheet out. Unregistered again at the end. That the PNGs show the pages is checked
// against the engine's native rendering in tests/torvview/reference_test.py. In the x86 tree the
// library is the 32-bit one and the renderer beside it the one 64-bit TorvView.exe, as installed.
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

const wchar_t kBindingKey[] = L".pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const wchar_t kClsid[] = L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";

constexpr DWORD kPaper = 0xFFFFFFFFu;

// The binding's class identifier in the per-user classes, or empty.
std::wstring RegisteredBinding()
{
    return tool_testing::ClassesText(kBindingKey, nullptr, tool_testing::kBindingView);
}

DWORD Regsvr32(const std::wstring& flags)
{
    const std::wstring dll = tool_testing::BinDir() + L"\\torvthumb.dll";
    return tool_testing::Run(L"regsvr32.exe " + flags + L" " + Quote(dll)).exitCode;
}

size_t CountPixels(const DecodedImage& image, DWORD value)
{
    size_t count = 0;
    for (UINT y = 0; y < image.height; ++y) {
        for (UINT x = 0; x < image.width; ++x) {
            count += image.Pixel(x, y) == value ? 1 : 0;
        }
    }
    return count;
}

// A thumbnail of a page: its size, opaque, mostly paper with something drawn on it.
void ExpectPage(const std::wstring& png, UINT width, UINT height)
{
    const DecodedImage image = DecodeImage(png);
    ASSERT_EQ(image.hr, S_OK) << tool_testing::Narrow(png);
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    EXPECT_EQ(image.Pixel(0, 0) >> 24, 0xFFu) << "WTSAT_RGB thumbnails are written opaque";
    const size_t paper = CountPixels(image, kPaper);
    EXPECT_GT(paper, 0u);
    EXPECT_LT(paper, static_cast<size_t>(width) * height) << "a blank page";
}

class ThumbnailsEndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // As installed, whichever the bitness: the one 64-bit renderer beside the library.
        ASSERT_TRUE(tool_testing::FileExists(tool_testing::ViewerPath())) << "the x64 build puts it there";
        ASSERT_EQ(Regsvr32(L"/s"), 0u);
        ASSERT_EQ(RegisteredBinding(), kClsid);
    }

    static void TearDownTestSuite()
    {
        EXPECT_EQ(Regsvr32(L"/u /s"), 0u);
        EXPECT_EQ(RegisteredBinding(), L"");
    }

    // Each run gets its own empty temporary directory, which must be empty again afterwards.
    void SetUp() override
    {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        m_work = testing_support::TempDir() + L"\\" + std::wstring(name.begin(), name.end());
        m_tmp = m_work + L"\\tmp";
        m_out = m_work + L"\\out";
        CreateDirectoryW(m_work.c_str(), nullptr);
        CreateDirectoryW(m_tmp.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", m_tmp.c_str());
        SetEnvironmentVariableW(L"TEMP", m_tmp.c_str());
    }

    void TearDown() override
    {
        SetEnvironmentVariableW(L"TMP", testing_support::TempDir().c_str());
        SetEnvironmentVariableW(L"TEMP", testing_support::TempDir().c_str());
        EXPECT_TRUE(tool_testing::ListDirectory(m_tmp).empty()) << "files left in the temporary directory";
    }

    // The host runs in the samples folder, as the main command runs it.
    ProcessResult RunHost(const std::wstring& arguments) const
    {
        return tool_testing::Run(Quote(tool_testing::HostPath()) + L" " + arguments, tool_testing::SamplesDir());
    }

    std::wstring m_work;
    std::wstring m_tmp;
    std::wstring m_out;
};

TEST_F(ThumbnailsEndToEndTest, SamplesBecomePngsAndAContactSheet)
{
    const std::wstring sheet = m_out + L"\\sheet.png";

    const ProcessResult run = RunHost(L"--out " + Quote(m_out) + L" --sheet " + Quote(sheet)
                                      + L" report.pdf letter.pdf slide.pdf damaged.pdf notes.txt");

    EXPECT_EQ(run.exitCode, 1u) << "some samples fail on purpose";
    const struct {
        const char* name;
        UINT width;
        UINT height;
    } pages[] = {{"report.pdf", 181, 256}, {"letter.pdf", 198, 256}, {"slide.pdf", 256, 144}};
    for (const auto& page : pages) {
        const std::string name = page.name;
        const std::string size = std::to_string(page.width) + "x" + std::to_string(page.height);
        const std::string line = LineStartingWith(run.out, name + ": ");
        EXPECT_EQ(line.find(name + ": S_OK 0x00000000 " + size + " WTSAT_RGB "), 0u) << run.out;
        const std::wstring png = m_out + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
        EXPECT_NE(line.find(" ms -> " + tool_testing::Narrow(png)), std::string::npos) << line;
        ExpectPage(png, page.width, page.height);
    }
    EXPECT_EQ(LineStartingWith(run.out, "damaged.pdf: ").find(
                  "damaged.pdf: E_FAIL 0x80004005 "), 0u) << run.out;
    EXPECT_NE(LineStartingWith(run.out, "damaged.pdf: ").find("the thumbnail request failed"), std::string::npos);
    EXPECT_EQ(LineStartingWith(run.out, "notes.txt: ").find(
                  "notes.txt: HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION) 0x80070483 "), 0u) << run.out;
    EXPECT_NE(LineStartingWith(run.out, "notes.txt: ").find("no thumbnail handler is registered for \".txt\""),
              std::string::npos);
    EXPECT_FALSE(tool_testing::FileExists(m_out + L"\\damaged.pdf.png"));
    EXPECT_FALSE(tool_testing::FileExists(m_out + L"\\notes.txt.png"));
    EXPECT_NE(run.out.find("summary: 3 of 5 thumbnails made, 2 failed\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "") << "no warning: the DLL is Apartment and lets itself be unloaded";

    // Five cells in rows of four.
    const DecodedImage image = DecodeImage(sheet);
    ASSERT_EQ(image.hr, S_OK);
    EXPECT_GE(image.width, 4u * 256u);
    EXPECT_GE(image.height, 2u * 256u);
    EXPECT_NE(run.out.find("contact sheet: " + tool_testing::Narrow(sheet)), std::string::npos);
}

TEST_F(ThumbnailsEndToEndTest, TheRequestedSizeReachesTheRenderer)
{
    const ProcessResult run = RunHost(L"--size 100 --out " + Quote(m_out) + L" report.pdf");

    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_EQ(LineStartingWith(run.out, "report.pdf: ").find("report.pdf: S_OK 0x00000000 71x100 WTSAT_RGB "), 0u)
        << run.out;
    EXPECT_NE(run.out.find("summary: 1 of 1 thumbnails made, 0 failed"), std::string::npos);
    ExpectPage(m_out + L"\\report.pdf.png", 71, 100);
}

TEST_F(ThumbnailsEndToEndTest, OutputThatCannotBeWrittenFailsTheFile)
{
    // A file where the output folder should be: neither PNG nor sheet can be written inside it.
    const std::wstring blocker = m_work + L"\\blocker";
    tool_testing::WriteFileBytes(blocker, "x");

    const ProcessResult run = RunHost(L"--out " + Quote(blocker) + L" report.pdf");

    EXPECT_EQ(run.exitCode, 1u);
    const std::string line = LineStartingWith(run.out, "report.pdf: ");
    EXPECT_EQ(line.find("report.pdf: S_OK 0x00000000 181x256 WTSAT_RGB "), 0u) << run.out;
    EXPECT_NE(line.find("; cannot write \"" + tool_testing::Narrow(blocker) + "\\report.pdf.png\": "),
              std::string::npos) << line;
    EXPECT_NE(run.out.find("summary: 0 of 1 thumbnails made, 1 failed"), std::string::npos) << run.out;
}

TEST_F(ThumbnailsEndToEndTest, ContactSheetThatCannotBeWrittenFailsTheRun)
{
    const std::wstring sheet = m_work + L"\\no-such-folder\\sheet.png";

    const ProcessResult run = RunHost(L"--out " + Quote(m_out) + L" --sheet " + Quote(sheet) + L" report.pdf");

    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find("summary: 1 of 1 thumbnails made, 0 failed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("contact sheet: cannot write \"" + tool_testing::Narrow(sheet) + "\": "), std::string::npos)
        << run.out;
    EXPECT_TRUE(tool_testing::FileExists(m_out + L"\\report.pdf.png"));
}

}  // namespace
