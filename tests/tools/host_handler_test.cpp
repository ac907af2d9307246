// The host with a handler whose behaviour each document chooses (fake_handler.cpp): the alpha
// type decides the PNG's alpha channel, and a handler's failures and misbehaviour are reported.
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>

namespace {

using tool_testing::LineStartingWith;
using tool_testing::Narrow;
using tool_testing::ProcessResult;
using tool_testing::Quote;

const wchar_t kBinding[] = L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const wchar_t kFakeHandler[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D10}";
const wchar_t kNoFileInit[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D11}";

void RegisterClass(const std::wstring& extension, const std::wstring& clsid)
{
    const std::wstring server = L"CLSID\\" + clsid + L"\\InprocServer32";
    ASSERT_TRUE(tool_testing::SetClassesText(extension + kBinding, nullptr, clsid, tool_testing::kBindingView));
    ASSERT_TRUE(tool_testing::SetClassesText(server, nullptr, testing_support::TestDir() + L"\\fakehandler.dll"));
    ASSERT_TRUE(tool_testing::SetClassesText(server, L"ThreadingModel", L"Apartment"));
}

std::wstring Docs()
{
    return testing_support::TempDir() + L"\\docs";
}

class HostHandlerTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterClass(L".torvfake", kFakeHandler);
        RegisterClass(L".torvnoinit", kNoFileInit);
    }

    static void TearDownTestSuite()
    {
        tool_testing::DeleteClassesTree(L".torvfake", tool_testing::kBindingView);
        tool_testing::DeleteClassesTree(L".torvnoinit", tool_testing::kBindingView);
        tool_testing::DeleteClassesTree(std::wstring(L"CLSID\\") + kFakeHandler);
        tool_testing::DeleteClassesTree(std::wstring(L"CLSID\\") + kNoFileInit);
    }

    // Writes the document telling the handler what to do and runs the host on it.
    static ProcessResult RunOn(const std::wstring& name, const std::string& command, const std::wstring& out)
    {
        tool_testing::WriteFileBytes(Docs() + L"\\" + name, command);
        return tool_testing::Run(Quote(tool_testing::HostPath()) + L" --out " + Quote(out) + L" " + name, Docs());
    }
};

struct AlphaCase {
    const char* command;
    const char* alphaType;
    DWORD pngPixel;  // 0xAARRGGBB after decoding
};

std::ostream& operator<<(std::ostream& out, const AlphaCase& c)
{
    return out << c.command;
}

class HostAlphaTest : public HostHandlerTest, public testing::WithParamInterface<AlphaCase> {};

// Alpha is kept for ARGB and for UNKNOWN with some alpha set; RGB and all-zero UNKNOWN are opaque.
INSTANTIATE_TEST_SUITE_P(AlphaTypes, HostAlphaTest,
                         testing::Values(AlphaCase{"argb", "WTSAT_ARGB", 0x80FF4020u},
                                         AlphaCase{"rgb", "WTSAT_RGB", 0xFFFF4020u},
                                         AlphaCase{"unknown-alpha", "WTSAT_UNKNOWN", 0x80FF4020u},
                                         AlphaCase{"unknown-zero", "WTSAT_UNKNOWN", 0xFFFF4020u}),
                         [](const testing::TestParamInfo<AlphaCase>& info) {
                             std::string name = info.param.command;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_P(HostAlphaTest, PngHonoursTheAlphaType)
{
    const char* command = GetParam().command;
    const std::wstring out =
        testing_support::TempDir() + L"\\alpha-" + std::wstring(command, command + strlen(command));
    const ProcessResult run = RunOn(L"picture.torvfake", GetParam().command, out);

    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_EQ(LineStartingWith(run.out, "picture.torvfake: ")
                  .find(std::string("picture.torvfake: S_OK 0x00000000 4x2 ") + GetParam().alphaType + " "),
              0u)
        << run.out;
    const tool_testing::DecodedImage image = tool_testing::DecodeImage(out + L"\\picture.torvfake.png");
    ASSERT_EQ(image.hr, S_OK);
    ASSERT_EQ(image.width, 4u);
    ASSERT_EQ(image.height, 2u);
    EXPECT_EQ(image.Pixel(0, 0), GetParam().pngPixel);
    EXPECT_EQ(image.Pixel(3, 1), GetParam().pngPixel);
    EXPECT_EQ(run.err, "");
}

struct MisbehaviourCase {
    const char* name;
    const wchar_t* file;
    const char* command;
    const char* line;  // what the file's line starts with after "<file>: "
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const MisbehaviourCase& c)
{
    return out << c.name;
}

class HostMisbehaviourTest : public HostHandlerTest, public testing::WithParamInterface<MisbehaviourCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, HostMisbehaviourTest,
    testing::Values(MisbehaviourCase{"request_fails", L"a.torvfake", "fail", "WTS_E_FAILEDEXTRACTION 0x8004B200 ",
                                     "the thumbnail request failed"},
                    MisbehaviourCase{"success_without_bitmap", L"a.torvfake", "null-bitmap", "E_UNEXPECTED 0x8000FFFF ",
                                     "the handler reported success but returned no bitmap"},
                    MisbehaviourCase{"no_file_initialisation", L"a.torvnoinit", "rgb", "E_NOINTERFACE 0x80004002 ",
                                     "cannot be initialised with a file path (no IInitializeWithFile)"}),
    [](const testing::TestParamInfo<MisbehaviourCase>& info) { return std::string(info.param.name); });

TEST_P(HostMisbehaviourTest, IsReportedAsAFailure)
{
    const MisbehaviourCase& c = GetParam();
    const std::wstring out =
        testing_support::TempDir() + L"\\misbehaviour-" + std::wstring(c.name, c.name + strlen(c.name));

    const ProcessResult run = RunOn(c.file, c.command, out);

    EXPECT_EQ(run.exitCode, 1u);
    const std::string prefix = Narrow(c.file) + ": ";
    const std::string line = LineStartingWith(run.out, prefix);
    EXPECT_EQ(line.find(prefix + c.line), 0u) << run.out;
    EXPECT_NE(line.find(c.message), std::string::npos) << line;
    EXPECT_TRUE(tool_testing::ListDirectory(out).empty());
}

// A handler that keeps an object alive must not be unloaded under it; the host says so and goes on.
TEST_F(HostHandlerTest, DllThatCannotUnloadStaysLoadedWithAWarning)
{
    const std::wstring out = testing_support::TempDir() + L"\\leak";

    const ProcessResult run = RunOn(L"kept.torvfake", "leak", out);

    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_EQ(LineStartingWith(run.out, "kept.torvfake: ").find("kept.torvfake: S_OK 0x00000000 4x2 WTSAT_RGB "), 0u)
        << run.out;
    EXPECT_NE(run.err.find("kept.torvfake: warning: \"" + Narrow(testing_support::TestDir())
                           + "\\fakehandler.dll\" cannot be unloaded after everything was released"),
              std::string::npos)
        << run.err;
}

}  // namespace
