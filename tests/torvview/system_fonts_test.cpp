// Fonts that documents name without embedding them: the names, what font files say of themselves,
// the choice among installed fonts, the engine asking only when it must, and the registry's list.
#include "renderer/document_page.h"
#include "renderer/font_match.h"
#include "renderer/registry_fonts.h"
#include "renderer/system_fonts.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Debian's packages, which scripts/setup installs; Wine's drive Z: is the Unix root.
const wchar_t kIpaGothic[] = L"Z:\\usr\\share\\fonts\\opentype\\ipafont-gothic\\ipag.ttf";
const wchar_t kWqyMicroHei[] = L"Z:\\usr\\share\\fonts\\truetype\\wqy\\wqy-microhei.ttc";
const wchar_t kNanumMyeongjo[] = L"Z:\\usr\\share\\fonts\\truetype\\nanum\\NanumMyeongjo.ttf";
const wchar_t kDejaVuSans[] = L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";

std::vector<unsigned char> ReadFont(const std::wstring& path)
{
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

TEST(PdfFontNameTest, FamilyAndStyleAsWritersSpellThem)
{
    const struct {
        const char* name;
        const char* family;
        const char* full;
        bool bold;
        bool italic;
        bool standard;
    } cases[] = {
        {"ABCDEF+Arial-BoldMT", "arial", "arialbold", true, false, false},  // subset tag, vendor suffix
        {"MS-Gothic,Bold", "msgothic", "msgothicbold", true, false, false},  // Word's style suffix
        {"MS-Mincho", "msmincho", "msmincho", false, false, false},          // a hyphen inside the family
        {"TimesNewRomanPS-BoldItalicMT", "timesnewroman", "timesnewromanbolditalic", true, true, false},
        {"NanumGothicBold", "nanumgothicbold", "nanumgothicbold", false, false, false},  // style glued on
        {"Times New Roman,Italic", "timesnewroman", "timesnewromanitalic", false, true, false},
        {"Helvetica-Oblique", "helvetica", "helveticaoblique", false, true, true},
        {"Times-Roman", "times", "timesroman", false, false, true},
        {"Courier-BoldOblique", "courier", "courierboldoblique", true, true, true},
        {"ZapfDingbats", "zapfdingbats", "zapfdingbats", false, false, true},
        {"Symbol", "symbol", "symbol", false, false, true},
        {"abcdef+Calibri", "abcdefcalibri", "abcdefcalibri", false, false, false},  // not a subset tag
    };
    for (const auto& c : cases) {
        const FontName name = ParsePdfFontName(c.name);
        EXPECT_EQ(name.family, c.family) << c.name;
        EXPECT_EQ(name.full, c.full) << c.name;
        EXPECT_EQ(name.bold, c.bold) << c.name;
        EXPECT_EQ(name.italic, c.italic) << c.name;
        EXPECT_EQ(IsStandardFontName(name), c.standard) << c.name;
    }
}

TEST(PdfFontNameTest, ANameInANationalEncodingStaysDistinct)
{
    // "ＭＳ 明朝" in Shift-JIS, as Japanese writers name MS Mincho.
    const FontName name = ParsePdfFontName("\x82l\x82r \x96\xbe\x92\xa9");
    EXPECT_EQ(name.family, "\x82l\x82r\x96\xbe\x92\xa9");
    EXPECT_FALSE(IsStandardFontName(name));
}

TEST(ListedFontNameTest, FacesOfAnEntryInTheFilesOrder)
{
    const std::vector<FontName> gothic = ParseListedFontNames("MS Gothic & MS UI Gothic & MS PGothic (TrueType)");
    ASSERT_EQ(gothic.size(), 3u);
    EXPECT_EQ(gothic[0].family, "msgothic");
    EXPECT_EQ(gothic[1].family, "msuigothic");
    EXPECT_EQ(gothic[2].family, "mspgothic");

    const std::vector<FontName> arial = ParseListedFontNames("Arial Bold Italic (TrueType)");
    ASSERT_EQ(arial.size(), 1u);
    EXPECT_EQ(arial[0].family, "arial");
    EXPECT_EQ(arial[0].full, "arialbolditalic");
    EXPECT_TRUE(arial[0].bold);
    EXPECT_TRUE(arial[0].italic);

    const std::vector<FontName> yu = ParseListedFontNames("Yu Gothic Regular & Yu Gothic UI Semilight (TrueType)");
    ASSERT_EQ(yu.size(), 2u);
    EXPECT_EQ(yu[0].family, "yugothic");
    EXPECT_EQ(yu[1].family, "yugothicuisemilight");  // not a style word: part of the family

    EXPECT_TRUE(ParseListedFontNames("@IPAGothic (TrueType)").empty());  // Wine's vertical faces
    EXPECT_TRUE(IsOutlineFontFile("C:\\Windows\\Fonts\\MSGOTHIC.TTC"));
    EXPECT_TRUE(IsOutlineFontFile("SourceHanSans.otf"));
    EXPECT_FALSE(IsOutlineFontFile("coure.fon"));
    EXPECT_FALSE(IsOutlineFontFile("fonts"));
}

std::vector<std::vector<FontName>> Listing(std::initializer_list<const char*> entries)
{
    std::vector<std::vector<FontName>> listing;
    for (const char* entry : entries) {
        listing.push_back(ParseListedFontNames(entry));
    }
    return listing;
}

TEST(NamedFaceTest, TheFaceItselfElseItsFamilysUprightFace)
{
    const auto listing = Listing({"Arial (TrueType)", "Arial Bold (TrueType)",
                                  "MS Mincho & MS PMincho (TrueType)", "NanumGothic Bold (TrueType)"});
    const struct {
        const char* name;
        bool exactMetrics;
        bool found;
        size_t entry;
        int face;
        bool fakeBold;
        bool fakeItalic;
    } cases[] = {
        {"Arial-BoldMT", false, true, 1, 0, false, false},   // the bold face itself
        {"ArialMT", false, true, 0, 0, false, false},
        {"Arial,BoldItalic", false, true, 0, 0, true, true},  // no such face: upright, drawn bold and italic
        {"Arial,Italic", true, false, 0, 0, false, false},    // but not where exact metrics are needed
        {"MS-PMincho", false, true, 2, 1, false, false},      // the second face of a collection
        {"NanumGothicBold", false, true, 3, 0, false, false}, // the full name, style glued on
        {"Calibri", false, false, 0, 0, false, false},
    };
    for (const auto& c : cases) {
        FaceChoice choice;
        ASSERT_EQ(ChooseNamedFace(listing, ParsePdfFontName(c.name), c.exactMetrics, choice), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(choice.entry, c.entry) << c.name;
            EXPECT_EQ(choice.face, c.face) << c.name;
            EXPECT_EQ(choice.fakeBold, c.fakeBold) << c.name;
            EXPECT_EQ(choice.fakeItalic, c.fakeItalic) << c.name;
        }
    }
}

TEST(FaceTraitsTest, CodePagesStyleAndWeightFromTheFontsOwnTables)
{
    const struct {
        const wchar_t* path;
        int face;
        uint32_t cjkCodePages;
        int serif;
    } cases[] = {
        {kIpaGothic, 0, 1u << int(CjkOrdering::kJapan), 0},
        {kNanumMyeongjo, 0, 1u << int(CjkOrdering::kKorea), 1},
        {kWqyMicroHei, 1, 0xF, 0},  // every CJK code page, in the collection's second face
        {kDejaVuSans, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const std::vector<unsigned char> file = ReadFont(c.path);
        ASSERT_FALSE(file.empty()) << tool_testing::Narrow(c.path) << ": run scripts/setup";
        FaceTraits traits;
        ASSERT_TRUE(ReadFaceTraits(file.data(), file.size(), c.face, traits)) << tool_testing::Narrow(c.path);
        EXPECT_EQ(traits.cjkCodePages, c.cjkCodePages) << tool_testing::Narrow(c.path);
        EXPECT_EQ(traits.serif, c.serif) << tool_testing::Narrow(c.path);
        EXPECT_FALSE(traits.bold);
    }
    const std::vector<unsigned char> collection = ReadFont(kWqyMicroHei);
    EXPECT_EQ(FaceCount(collection.data(), collection.size()), 2);
    FaceTraits traits;
    EXPECT_FALSE(ReadFaceTraits(collection.data(), collection.size(), 2, traits));
}

TEST(FaceTraitsTest, ACutFileReadsAsNoFont)
{
    const std::vector<unsigned char> file = ReadFont(kIpaGothic);
    ASSERT_FALSE(file.empty());
    // Within the header, within the table directory, and with the OS/2 table's place past the end.
    for (const size_t size : {size_t(0), size_t(3), size_t(12), size_t(100)}) {
        FaceTraits traits;
        EXPECT_FALSE(ReadFaceTraits(file.data(), size, 0, traits)) << size;
    }
    EXPECT_EQ(FaceCount(file.data(), 3), 0);
    const unsigned char notAFont[16] = {'%', 'P', 'D', 'F'};
    EXPECT_EQ(FaceCount(notAFont, sizeof notAFont), 0);
}

TEST(CjkFaceTest, CodePageThenStyleThenWeightThenTheMostSpecificFont)
{
    const uint32_t japan = 1u << int(CjkOrdering::kJapan);
    const uint32_t all = 0xF;
    auto face = [](size_t entry, uint32_t pages, int count, int serif, bool bold) {
        return CandidateFace{entry, 0, FaceTraits{pages, count, serif, bold}};
    };
    const struct {
        const char* what;
        std::vector<CandidateFace> candidates;
        bool serif;
        bool bold;
        bool found;
        size_t entry;
        bool fakeBold;
    } cases[] = {
        {"only the collection's code page counts", {face(0, 1u << int(CjkOrdering::kKorea), 1, 1, false)}, true,
         false, false, 0, false},
        {"a dedicated font before a pan-CJK one", {face(0, all, 4, 0, false), face(1, japan, 1, 0, false)}, false,
         false, true, 1, false},
        {"the wanted style before a dedicated font", {face(0, japan, 1, 0, false), face(1, all, 4, 1, false)}, true,
         false, true, 1, false},
        {"an unsaid style before the opposite one", {face(0, japan, 1, 0, false), face(1, japan, 1, -1, false)},
         true, false, true, 1, false},
        {"the wanted weight", {face(0, japan, 1, 0, false), face(1, japan, 1, 0, true)}, false, true, true, 1, false},
        {"drawn bold when no face is", {face(0, japan, 1, 0, false)}, false, true, true, 0, true},
        {"on a tie, the one listed first", {face(3, japan, 1, 0, false), face(4, japan, 1, 0, false)}, false, false,
         true, 3, false},
    };
    for (const auto& c : cases) {
        FaceChoice choice;
        ASSERT_EQ(ChooseCjkFace(c.candidates, CjkOrdering::kJapan, c.serif, c.bold, choice), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(choice.entry, c.entry) << c.what;
            EXPECT_EQ(choice.fakeBold, c.fakeBold) << c.what;
        }
    }
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("MS-Mincho")), 1);
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("Batang")), 1);
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("MS-PGothic,Bold")), 0);
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("SimSun")), 1);
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("HeiseiMin-W3")), 1);  // a Mincho, whatever its "Hei"
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("KozGoPro-Medium")), 0);
    EXPECT_EQ(SerifFromCjkName(ParsePdfFontName("Osaka")), -1);  // said by the document's flags instead
}

// The installed fonts as a test gives them, counting what the engine asked of them.
class CountingFonts final : public InstalledFonts {
public:
    void Add(std::string name, std::vector<unsigned char> file)
    {
        m_names.push_back(std::move(name));
        m_files.push_back(std::move(file));
    }
    const std::vector<std::string>& Listing() override
    {
        ++listings;
        return m_names;
    }
    FontBytes Bytes(size_t entry) noexcept override
    {
        ++reads;
        return entry < m_files.size() ? FontBytes{m_files[entry].data(), m_files[entry].size()} : FontBytes{};
    }
    int listings = 0;
    int reads = 0;

private:
    std::vector<std::string> m_names;
    std::vector<std::vector<unsigned char>> m_files;
};

fz_stream* OpenFile(fz_context* ctx, const void* path)
{
    return fz_open_file_w(ctx, static_cast<const wchar_t*>(path));
}

struct Rendering {
    ExitCode code;
    size_t peakBytes;
    std::vector<unsigned char> pixels;
};

Rendering Render(const std::wstring& document, InstalledFonts& fonts)
{
    SystemFontLookup lookup(fonts);
    DocumentPage page(kMemoryCeilingBytes, &lookup);
    fz_cookie cookie{};
    const ExitCode code = page.RenderFirstPage(DocumentSource{OpenFile, document.c_str()}, 256, cookie);
    const RgbPixels pixels = page.Pixels();
    std::vector<unsigned char> copy;
    for (int y = 0; y < pixels.height; ++y) {
        const unsigned char* row = pixels.samples + size_t(y) * pixels.stride;
        copy.insert(copy.end(), row, row + size_t(pixels.width) * 3);
    }
    return Rendering{code, page.PeakBytes(), copy};
}

TEST(SystemFontLookupTest, DocumentsWithEmbeddedOrStandardFontsLookNothingUp)
{
    for (const std::wstring& document : {tool_testing::SamplesDir() + L"\\letter.pdf",
                                         tool_testing::SamplesDir() + L"\\report.pdf",
                                         tool_testing::DocumentsDir() + L"\\one-page-text.pdf",
                                         tool_testing::DocumentsDir() + L"\\cjk-japanese-sjis-embedded.pdf"}) {
        CountingFonts fonts;
        fonts.Add("IPAGothic (TrueType)", ReadFont(kIpaGothic));
        EXPECT_EQ(Render(document, fonts).code, kExitOk) << tool_testing::Narrow(document);
        EXPECT_EQ(fonts.listings, 0) << tool_testing::Narrow(document);
        EXPECT_EQ(fonts.reads, 0) << tool_testing::Narrow(document);
    }
}

TEST(SystemFontLookupTest, AHugeCollectionCostsTheEngineWhatASmallOneDoes)
{
    // The same collection padded to 40 MB, as large CJK collections are: its bytes are the
    // installed file's, never the engine's memory.
    const std::wstring document = tool_testing::DocumentsDir() + L"\\cjk-chinese-gbk.pdf";
    const char name[] = "WenQuanYi Micro Hei & WenQuanYi Micro Hei Mono (TrueType)";
    CountingFonts small;
    small.Add(name, ReadFont(kWqyMicroHei));
    ASSERT_GT(ReadFont(kWqyMicroHei).size(), size_t(4) << 20);
    CountingFonts huge;
    std::vector<unsigned char> padded = ReadFont(kWqyMicroHei);
    padded.resize(size_t(40) << 20);
    huge.Add(name, std::move(padded));
    CountingFonts none;

    const Rendering fromSmall = Render(document, small);
    const Rendering fromHuge = Render(document, huge);
    const Rendering withoutFont = Render(document, none);
    ASSERT_EQ(fromSmall.code, kExitOk);
    ASSERT_EQ(fromHuge.code, kExitOk);
    ASSERT_EQ(withoutFont.code, kExitOk);
    EXPECT_EQ(fromHuge.pixels, fromSmall.pixels);
    EXPECT_NE(fromSmall.pixels, withoutFont.pixels) << "the installed font drew the text";
    const size_t difference = fromHuge.peakBytes > fromSmall.peakBytes ? fromHuge.peakBytes - fromSmall.peakBytes
                                                                      : fromSmall.peakBytes - fromHuge.peakBytes;
    EXPECT_LT(difference, size_t(64) << 10) << fromSmall.peakBytes << " and " << fromHuge.peakBytes;
    EXPECT_LT(fromSmall.peakBytes, withoutFont.peakBytes + (size_t(4) << 20)) << withoutFont.peakBytes;
}

TEST(SystemFontLookupTest, AFontThatIsNotAFontDrawsNothingAndFailsNothing)
{
    CountingFonts fonts;
    fonts.Add("IPAGothic (TrueType)", std::vector<unsigned char>(4096, 0x5A));
    CountingFonts none;
    const std::wstring document = tool_testing::DocumentsDir() + L"\\cjk-japanese-sjis.pdf";
    const Rendering broken = Render(document, fonts);
    EXPECT_EQ(broken.code, kExitOk);
    EXPECT_GT(fonts.reads, 0);
    EXPECT_EQ(broken.pixels, Render(document, none).pixels);
}

// The registry's list: the machine's entries, then those of the user, whose relative names are in
// the user's font folder; only outline font files, and each file's own bytes.
TEST(RegistryFontsTest, ListsTheUsersFontsAfterTheMachinesAndMapsTheirFiles)
{
    testing_support::ScratchHkcu hkcu;
    const size_t machineEntries = RegistryFonts().Listing().size();
    UniqueHKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    auto set = [&](const wchar_t* name, const std::wstring& data) {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 DWORD((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    };
    set(L"IPAGothic (TrueType)", kIpaGothic);
    set(L"Courier 10,12,15", L"coure.fon");
    set(L"Missing (TrueType)", L"missing.ttf");

    RegistryFonts fonts;
    const std::vector<std::string>& listing = fonts.Listing();
    ASSERT_EQ(listing.size(), machineEntries + 2);
    EXPECT_EQ(listing[machineEntries], "IPAGothic (TrueType)");
    EXPECT_EQ(listing[machineEntries + 1], "Missing (TrueType)");
    const std::vector<unsigned char> file = ReadFont(kIpaGothic);
    const FontBytes bytes = fonts.Bytes(machineEntries);
    ASSERT_EQ(bytes.size, file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.end(), bytes.data));
    EXPECT_EQ(fonts.Bytes(machineEntries + 1).data, nullptr);
    EXPECT_EQ(fonts.Bytes(machineEntries + 2).data, nullptr);
}

}  // namespace
