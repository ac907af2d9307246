// The host's messages and exit codes for what goes wrong before a handler makes a thumbnail:
// usage errors, no handler for the extension, and registrations that point at nothing usable.
// The registrations are made up here, for extensions and classes of this test alone.
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using tool_testing::Narrow;
using tool_testing::Quote;

const wchar_t kBinding[] = L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

// Classes that no DLL in this build provides.
const wchar_t kMissingDllClass[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D01}";
const wchar_t kNotADllClass[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D02}";
const wchar_t kForeignClass[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D03}";
const wchar_t kUnregisteredClass[] = L"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D04}";

std::wstring Docs()
{
    return testing_support::TempDir() + L"\\docs";
}

std::wstring NotADll()
{
    return Docs() + L"\\not-a-library.dll";
}

std::wstring MissingDll()
{
    return Docs() + L"\\gone\\handler.dll";
}

// Each extension is bound to one class; each class names one DLL.
struct Binding {
    const wchar_t* extension;
    const wchar_t* clsid;
};
const Binding kBindings[] = {
    {L".torvmissing", kMissingDllClass},
    {L".torvnotadll", kNotADllClass},
    {L".torvforeign", kForeignClass},
    {L".torvnoserver", kUnregisteredClass},
};

class HostMessagesTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        tool_testing::WriteFileBytes(NotADll(), "This is text, not a library.\n");
        for (const Binding& binding : kBindings) {
            ASSERT_TRUE(tool_testing::SetClassesText(std::wstring(binding.extension) + kBinding, nullptr, binding.clsid,
                                                     tool_testing::kBindingView));
        }
        const struct {
            const wchar_t* clsid;
            std::wstring dll;
            const wchar_t* threadingModel;  // none when null
        } servers[] = {
            {kMissingDllClass, MissingDll(), L"Apartment"},
            {kNotADllClass, NotADll(), L"Apartment"},
            // A real thumbnail server, asked for a class it does not have; registered without a model.
            {kForeignClass, tool_testing::BinDir() + L"\\torvthumb.dll", nullptr},
        };
        for (const auto& server : servers) {
            const std::wstring key = std::wstring(L"CLSID\\") + server.clsid + L"\\InprocServer32";
            ASSERT_TRUE(tool_testing::SetClassesText(key, nullptr, server.dll));
            if (server.threadingModel) {
                ASSERT_TRUE(tool_testing::SetClassesText(key, L"ThreadingModel", server.threadingModel));
            }
        }
    }

    static void TearDownTestSuite()
    {
        for (const Binding& binding : kBindings) {
            tool_testing::DeleteClassesTree(binding.extension, tool_testing::kBindingView);
        }
        for (const wchar_t* clsid : {kMissingDllClass, kNotADllClass, kForeignClass}) {
            tool_testing::DeleteClassesTree(std::wstring(L"CLSID\\") + clsid);
        }
    }

    static tool_testing::ProcessResult RunHost(const std::wstring& arguments)
    {
        return tool_testing::Run(Quote(tool_testing::HostPath()) + L" " + arguments, Docs());
    }
};

struct FailureCase {
    const char* name;
    const wchar_t* file;           // made in the documents folder unless it is "absent.pdf"
    const char* result;            // symbolic name and hex value
    std::vector<std::string> messageParts;  // each in the file's line
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c)
{
    return out << c.name;
}

class HostFailureTest : public HostMessagesTest, public testing::WithParamInterface<FailureCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, HostFailureTest,
    testing::Values(
        FailureCase{"unregistered_extension", L"photo.torvnone", "HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION) 0x80070483",
                    {"no thumbnail handler is registered for \".torvnone\" files", "register one with regsvr32"}},
        FailureCase{"no_extension", L"README", "HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION) 0x80070483",
                    {"has no extension", "no thumbnail handler"}},
        FailureCase{"missing_dll", L"a.torvmissing", "HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) 0x8007007E",
                    {"gone\\handler.dll\" registered in HKCU\\Software\\Classes\\CLSID\\", "does not exist"}},
        FailureCase{"dll_that_does_not_load", L"a.torvnotadll", "0x800700C1",
                    {"not-a-library.dll\" does not load"}},
        FailureCase{"class_not_in_dll", L"a.torvforeign", "CLASS_E_CLASSNOTAVAILABLE 0x80040111",
                    {"torvthumb.dll\" does not provide the class {0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D03}",
                     "registered for \".torvforeign\""}},
        FailureCase{"class_without_server", L"a.torvnoserver", "REGDB_E_CLASSNOTREG 0x80040154",
                    {"{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D04} registered for \".torvnoserver\" has no DLL",
                     "register its DLL again with regsvr32"}},
        FailureCase{"file_not_found", L"absent.pdf", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) 0x80070002",
                    {"the file cannot be found"}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_P(HostFailureTest, ExplainsTheFailureAndExitsWithOne)
{
    const FailureCase& failure = GetParam();
    if (std::wstring(failure.file) != L"absent.pdf") {
        tool_testing::WriteFileBytes(Docs() + L"\\" + failure.file, "%PDF-1.4\n");
    }
    const std::wstring out = testing_support::TempDir() + L"\\out-" + std::wstring(failure.file);

    const tool_testing::ProcessResult run = RunHost(L"--out " + Quote(out) + L" " + Quote(failure.file));

    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    const std::string line = tool_testing::LineStartingWith(run.out, Narrow(failure.file) + ": ");
    ASSERT_FALSE(line.empty()) << run.out;
    EXPECT_NE(line.find(failure.result), std::string::npos) << line;
    for (const std::string& part : failure.messageParts) {
        EXPECT_NE(line.find(part), std::string::npos) << "missing \"" << part << "\" in: " << line;
    }
    EXPECT_NE(run.out.find("summary: 0 of 1 thumbnails made, 1 failed"), std::string::npos) << run.out;
    EXPECT_TRUE(tool_testing::ListDirectory(out).empty()) << "no PNG for a failed file";
}

// The Shell creates thumbnail handlers in single-threaded apartments; a class that does not say
// it can live there is worth a warning, and the request goes on.
TEST_F(HostMessagesTest, HandlerWithoutApartmentModelIsWarnedAbout)
{
    tool_testing::WriteFileBytes(Docs() + L"\\b.torvforeign", "x");
    tool_testing::WriteFileBytes(Docs() + L"\\b.torvmissing", "x");

    const tool_testing::ProcessResult run = RunHost(L"b.torvforeign b.torvmissing");

    EXPECT_NE(run.err.find("thumbhost: b.torvforeign: warning: ThreadingModel of "
                           "{0D6B2E51-7C1A-4C55-9E0A-5A3F1B7C9D03} is \"\""),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("b.torvmissing: warning"), std::string::npos) << run.err;
    EXPECT_NE(tool_testing::LineStartingWith(run.out, "b.torvforeign: CLASS_E_CLASSNOTAVAILABLE"), "") << run.out;
}

TEST_F(HostMessagesTest, EveryFileGetsItsOwnLineAndTheSummaryCountsThem)
{
    tool_testing::WriteFileBytes(Docs() + L"\\one.torvnone", "x");
    tool_testing::WriteFileBytes(Docs() + L"\\two.torvmissing", "x");

    const tool_testing::ProcessResult run = RunHost(L"one.torvnone two.torvmissing");

    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(tool_testing::LineStartingWith(run.out, "one.torvnone: HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION)"), "");
    EXPECT_NE(tool_testing::LineStartingWith(run.out, "two.torvmissing: HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)"), "");
    EXPECT_NE(run.out.find("summary: 0 of 2 thumbnails made, 2 failed"), std::string::npos) << run.out;
}

struct UsageCase {
    const char* name;
    const wchar_t* arguments;
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const UsageCase& c)
{
    return out << c.name;
}

class HostUsageTest : public HostMessagesTest, public testing::WithParamInterface<UsageCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, HostUsageTest,
    testing::Values(UsageCase{"no_files", L"", "no files given"},
                    UsageCase{"options_but_no_files", L"--size 64 --out x", "no files given"},
                    UsageCase{"size_zero", L"--size 0 a.pdf", "--size must be a whole number from 1 to 4096"},
                    UsageCase{"size_too_large", L"--size 4097 a.pdf", "--size must be a whole number from 1 to 4096"},
                    UsageCase{"size_not_a_number", L"--size big a.pdf", "--size must be a whole number"},
                    UsageCase{"size_without_value", L"a.pdf --size", "--size needs a value"},
                    UsageCase{"sheet_without_value", L"a.pdf --sheet", "--sheet needs a value"},
                    UsageCase{"unknown_option", L"--colour a.pdf", "unknown option --colour"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

TEST_P(HostUsageTest, ExitsWithTwoAndSaysWhy)
{
    const tool_testing::ProcessResult run = RunHost(GetParam().arguments);

    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find(std::string("thumbhost: ") + GetParam().message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("thumbhost --help"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(HostMessagesTest, HelpDescribesOptionsOutputAndExitCodes)
{
    const tool_testing::ProcessResult run = RunHost(L"--help");

    EXPECT_EQ(run.exitCode, 0u);
    for (const char* part : {"--size N", "--out DIR", "--sheet FILE", "InprocServer32", "HKCU", "HKLM", "regsvr32",
                             "WTSAT_RGB", "summary:", "Exit codes: 0", "1 some failed", "2 usage error"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << "--help lacks " << part;
    }
}

}  // namespace
