// The render command: template choice from the registry and the three substitution passes.
#include "support/test_support.h"
#include "thumbnail/render_command.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::wstring kDocument = L"C:\\docs\\a.pdf";
const std::wstring kResult = L"C:\\tmp\\tvt1A2B.tmp";

std::wstring DefaultCommandFor(const std::wstring& document, const std::wstring& size, const std::wstring& result)
{
    return L"\"" + TestDir() + L"\\TorvView.exe\" --thumb \"" + document + L"\" " + size + L" \"" + result + L"\"";
}

std::wstring Bytes(const wchar_t* text, size_t characters)
{
    return std::wstring(text, characters);
}

struct RegistryCase {
    const char* name;
    DWORD type;
    std::wstring data;      // stored bytes, as characters
    DWORD byteCount;
    bool expectDefault;
    std::wstring expected;  // the template when not the default
};

void PrintTo(const RegistryCase& c, std::ostream* os)
{
    *os << c.name;
}

class RenderCommandRegistry : public testing::TestWithParam<RegistryCase> {
protected:
    ScratchHkcu m_hkcu;
};

TEST_P(RenderCommandRegistry, ChoosesTemplate)
{
    const RegistryCase& c = GetParam();
    SetRenderCommandRaw(c.type, c.data.data(), c.byteCount);
    const std::wstring command = BuildRenderCommand(kDocument, 256, kResult);
    if (c.expectDefault) {
        EXPECT_EQ(command, DefaultCommandFor(kDocument, L"256", kResult));
    } else {
        EXPECT_EQ(command, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, RenderCommandRegistry,
    testing::Values(
        // Stored with its terminator, as every registry editor does.
        RegistryCase{"SzWithTerminator", REG_SZ, Bytes(L"abc\0", 4), 8, false, L"abc"},
        // Without a terminator the same three characters come out.
        RegistryCase{"SzWithoutTerminator", REG_SZ, Bytes(L"abc", 3), 6, false, L"abc"},
        // Only one terminator is stripped.
        RegistryCase{"SzTwoTerminators", REG_SZ, Bytes(L"abc\0\0", 5), 10, false, Bytes(L"abc\0", 4)},
        // An odd last byte is dropped.
        RegistryCase{"SzOddByteCount", REG_SZ, Bytes(L"abcd", 4), 7, false, L"abc"},
        // Expandable text is used as it stands, percent signs and all.
        RegistryCase{"ExpandSzNotExpanded", REG_EXPAND_SZ, Bytes(L"%WINDIR%\\r.exe\0", 15), 30, false,
                     L"%WINDIR%\\r.exe"},
        RegistryCase{"DwordIgnored", REG_DWORD, Bytes(L"ab", 2), 4, true, L""},
        RegistryCase{"BinaryIgnored", REG_BINARY, Bytes(L"abc\0", 4), 8, true, L""},
        RegistryCase{"MultiSzIgnored", REG_MULTI_SZ, Bytes(L"abc\0\0", 5), 10, true, L""},
        RegistryCase{"ZeroBytes", REG_SZ, Bytes(L"", 0), 0, true, L""},
        RegistryCase{"LoneTerminator", REG_SZ, Bytes(L"\0", 1), 2, true, L""},
        // Two zero characters leave one behind: not empty, so not the default.
        RegistryCase{"TwoZeroCharacters", REG_SZ, Bytes(L"\0\0", 2), 4, false, Bytes(L"\0", 1)}),
    [](const testing::TestParamInfo<RegistryCase>& info) { return std::string(info.param.name); });

TEST(RenderCommand, DefaultTemplateText)
{
    ScratchHkcu hkcu;
    EXPECT_EQ(BuildRenderCommand(kDocument, 256, kResult),
              L"\"" + TestDir() + L"\\TorvView.exe\" --thumb \"C:\\docs\\a.pdf\" 256 \"C:\\tmp\\tvt1A2B.tmp\"");
}

TEST(RenderCommand, ClassKeyWithoutValueGivesDefault)
{
    ScratchHkcu hkcu;
    SetRenderCommand(L"x");
    RemoveRenderCommand();
    EXPECT_EQ(BuildRenderCommand(kDocument, 1, kResult), DefaultCommandFor(kDocument, L"1", kResult));
}

TEST(RenderCommand, ReadAfreshForEveryRequest)
{
    ScratchHkcu hkcu;
    SetRenderCommand(L"first %2");
    EXPECT_EQ(BuildRenderCommand(kDocument, 5, kResult), L"first 5");
    SetRenderCommand(L"second %2");
    EXPECT_EQ(BuildRenderCommand(kDocument, 5, kResult), L"second 5");
}

struct SubstitutionCase {
    const char* name;
    std::wstring templateText;  // empty: the default command
    std::wstring document;
    UINT cx;
    std::wstring expected;
};

void PrintTo(const SubstitutionCase& c, std::ostream* os)
{
    *os << c.name;
}

class RenderCommandSubstitution : public testing::TestWithParam<SubstitutionCase> {
protected:
    ScratchHkcu m_hkcu;
};

TEST_P(RenderCommandSubstitution, ReplacesPlaceholders)
{
    const SubstitutionCase& c = GetParam();
    if (!c.templateText.empty()) {
        SetRenderCommand(c.templateText);
    }
    const std::wstring expected = c.templateText.empty() ? DefaultCommandFor(c.document, c.expected, kResult)
                                                         : c.expected;
    EXPECT_EQ(BuildRenderCommand(c.document, c.cx, kResult), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RenderCommandSubstitution,
    testing::Values(
        // Default command: "expected" is the size field; the document must come through as shown.
        SubstitutionCase{"DocumentWithPercent1Unchanged", L"", L"C:\\a%1b.pdf", 7, L"7"},
        SubstitutionCase{"ZeroSize", L"", kDocument, 0, L"0"},
        SubstitutionCase{"LargestSize", L"", kDocument, 4294967295u, L"4294967295"},
        // Only the template's placeholders are replaced: "%2" and "%3" in the document path stay,
        // as in a downloaded file's "%20".
        SubstitutionCase{"DocumentWithPercent2Unchanged", L"<%1>", L"C:\\a%2b.pdf", 31, L"<C:\\a%2b.pdf>"},
        SubstitutionCase{"DocumentWithPercent3Unchanged", L"<%1>", L"C:\\a%3.pdf", 31, L"<C:\\a%3.pdf>"},
        SubstitutionCase{"DownloadedNameDefaultCommand", L"", L"C:\\Budget%202024%3A Q1.pdf", 256, L"256"},
        // Placeholders are not formed across the edges of inserted text.
        SubstitutionCase{"DocumentEndingInPercent", L"%12", L"C:\\odd%", 5, L"C:\\odd%2"},
        SubstitutionCase{"PercentBeforeDocumentStartingWithDigit", L"%%1", L"3d.pdf", 5, L"%3d.pdf"},
        SubstitutionCase{"EveryOccurrence", L"%1|%1|%2|%3|%3", L"D", 9,
                         L"D|D|9|C:\\tmp\\tvt1A2B.tmp|C:\\tmp\\tvt1A2B.tmp"},
        SubstitutionCase{"NoPlaceholders", L"render.exe --all", L"D", 9, L"render.exe --all"},
        // No escapes: the first percent sign stays, a following digit stays behind.
        SubstitutionCase{"PercentBeforePlaceholder", L"%%1 %12", L"D", 9, L"%D D2"},
        // Inserted text that holds its own needle is not searched again in that pass.
        SubstitutionCase{"ReplacementHoldsNeedle", L"%1%1", L"x%1y", 9, L"x%1yx%1y"},
        SubstitutionCase{"CaseAndOrderKept", L"%3 %2 %1", L"Doc", 12, L"C:\\tmp\\tvt1A2B.tmp 12 Doc"}),
    [](const testing::TestParamInfo<SubstitutionCase>& info) { return std::string(info.param.name); });

TEST(ReplaceAll, Cases)
{
    struct Case {
        std::wstring text;
        std::wstring expected;
    };
    // Needles chosen so that earlier-listed ones can shadow later ones at the same place.
    const Case cases[] = {
        {L"", L""},
        {L"none", L"none"},
        {L"aaa", L"XZ"},   // matches do not overlap, left to right
        {L"abab", L"YY"},
        {L"aab", L"Xb"},   // the "ab" spanning the first match's end is not matched
        {L"ab", L"Y"},     // "ab" is listed before "a", so it wins where both match
        {L"ba", L"bZ"},
    };
    for (const Case& c : cases) {
        std::wstring text = c.text;
        ReplaceAll(text, {{L"aa", L"X"}, {L"ab", L"Y"}, {L"a", L"Z"}, {L"", L"never"}});
        EXPECT_EQ(text, c.expected) << "text " << testing::PrintToString(c.text);
    }
    // A replacement that holds its own needle is not searched again.
    std::wstring text = L"%1%1";
    ReplaceAll(text, {{L"%1", L"x%1y"}});
    EXPECT_EQ(text, L"x%1yx%1y");
}

}  // namespace
