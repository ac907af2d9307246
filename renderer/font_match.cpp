// Font names and font files, read for the choice of an installed font.
#include "renderer/font_match.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <tuple>

namespace {

bool IsAsciiUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

std::string Reduce(std::string_view text)
{
    std::string key;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || (byte >= '0' && byte <= '9')) {
            key += c;
        } else if (std::isalpha(byte)) {
            key += static_cast<char>(std::tolower(byte));
        }
    }
    return key;
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string_view WithoutSuffix(std::string_view text, std::string_view suffix)
{
    return EndsWith(text, suffix) ? text.substr(0, text.size() - suffix.size()) : text;
}

// PostScript names of Windows' fonts end in MT or PS ("ArialMT", "TimesNewRomanPS-BoldMT").
std::string_view WithoutVendorSuffix(std::string_view text)
{
    return WithoutSuffix(WithoutSuffix(text, "MT"), "PS");
}

// Takes a style word off the front of a lower-case style text ("bolditalic" -> "italic").
bool TakeStyleWord(std::string_view& style, FontName& name)
{
    struct Word {
        std::string_view text;
        bool bold;
        bool italic;
    };
    static constexpr Word kWords[] = {{"regular", false, false}, {"roman", false, false}, {"normal", false, false},
                                      {"book", false, false},    {"bold", true, false},   {"italic", false, true},
                                      {"oblique", false, true}};
    for (const Word& word : kWords) {
        if (style.substr(0, word.text.size()) == word.text) {
            style.remove_prefix(word.text.size());
            name.bold = name.bold || word.bold;
            name.italic = name.italic || word.italic;
            return true;
        }
    }
    return false;
}

// A style suffix made of style words only ("BoldItalic", "Regular"); false for anything else
// ("Gothic" in "MS-Gothic" is part of the family).
bool ParseStyle(std::string_view suffix, FontName& name)
{
    std::string lower = Reduce(WithoutVendorSuffix(suffix));
    std::string_view style = lower;
    FontName parsed;
    while (!style.empty()) {
        if (!TakeStyleWord(style, parsed)) {
            return false;
        }
    }
    if (lower.empty()) {
        return false;
    }
    name.bold = parsed.bold;
    name.italic = parsed.italic;
    return true;
}

std::string_view WithoutSubsetTag(std::string_view name)
{
    if (name.size() > 7 && name[6] == '+' && std::all_of(name.begin(), name.begin() + 6, IsAsciiUpper)) {
        name.remove_prefix(7);
    }
    return name;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// One face's name in the font list ("Arial Bold Italic"): trailing style words are its style.
FontName ParseListedFace(std::string_view face)
{
    FontName name;
    name.full = Reduce(face);
    std::string_view family = face;
    for (size_t space = family.find_last_of(' '); space != std::string_view::npos; space = family.find_last_of(' ')) {
        FontName word;
        if (!ParseStyle(family.substr(space + 1), word)) {
            break;
        }
        name.bold = name.bold || word.bold;
        name.italic = name.italic || word.italic;
        family = Trim(family.substr(0, space));
    }
    name.family = Reduce(family);
    return name;
}

// Big-endian reads within the file; out-of-range reads give false.
bool ReadU16(const unsigned char* data, size_t size, size_t offset, uint32_t& value)
{
    if (offset > size || size - offset < 2) {
        return false;
    }
    value = uint32_t(data[offset]) << 8 | data[offset + 1];
    return true;
}

bool ReadU32(const unsigned char* data, size_t size, size_t offset, uint32_t& value)
{
    if (offset > size || size - offset < 4) {
        return false;
    }
    value = uint32_t(data[offset]) << 24 | uint32_t(data[offset + 1]) << 16 | uint32_t(data[offset + 2]) << 8
            | data[offset + 3];
    return true;
}

constexpr uint32_t Tag(const char (&tag)[5])
{
    return uint32_t(uint8_t(tag[0])) << 24 | uint32_t(uint8_t(tag[1])) << 16 | uint32_t(uint8_t(tag[2])) << 8
           | uint8_t(tag[3]);
}

// A collection lists at most this many faces for our purposes; the rest are not looked at.
constexpr uint32_t kMaxFaces = 64;

bool IsSfntVersion(uint32_t version)
{
    return version == 0x00010000 || version == Tag("OTTO") || version == Tag("true");
}

// Where face `face`'s table directory starts.
bool FaceOffset(const unsigned char* data, size_t size, int face, uint32_t& offset)
{
    uint32_t version = 0;
    if (!ReadU32(data, size, 0, version)) {
        return false;
    }
    if (version == Tag("ttcf")) {
        uint32_t count = 0;
        return ReadU32(data, size, 8, count) && face >= 0 && uint32_t(face) < std::min(count, kMaxFaces)
               && ReadU32(data, size, 12 + 4 * size_t(face), offset);
    }
    offset = 0;
    return face == 0 && IsSfntVersion(version);
}

bool FindTable(const unsigned char* data, size_t size, uint32_t faceOffset, uint32_t tag, uint32_t& offset,
               uint32_t& length)
{
    uint32_t version = 0;
    uint32_t tables = 0;
    if (!ReadU32(data, size, faceOffset, version) || !IsSfntVersion(version)
        || !ReadU16(data, size, size_t(faceOffset) + 4, tables)) {
        return false;
    }
    for (uint32_t i = 0; i < tables; ++i) {
        const size_t record = size_t(faceOffset) + 12 + 16 * size_t(i);
        uint32_t recordTag = 0;
        if (!ReadU32(data, size, record, recordTag)) {
            return false;
        }
        if (recordTag == tag) {
            return ReadU32(data, size, record + 8, offset) && ReadU32(data, size, record + 12, length)
                   && offset <= size && length <= size - offset;
        }
    }
    return false;
}

// sFamilyClass classes 1-5 and 7 are serif designs, 8 sans serif; else the PANOSE serif style of a
// Latin text face (2-10 serif, 11-13 sans).
int SerifFromOs2(uint32_t familyClass, uint32_t panoseFamily, uint32_t panoseSerif)
{
    if ((familyClass >= 1 && familyClass <= 5) || familyClass == 7) {
        return 1;
    }
    if (familyClass == 8) {
        return 0;
    }
    if (panoseFamily == 2 && panoseSerif >= 2 && panoseSerif <= 10) {
        return 1;
    }
    if (panoseFamily == 2 && panoseSerif >= 11 && panoseSerif <= 13) {
        return 0;
    }
    return -1;
}

// ulCodePageRange1: 17 JIS (Japan), 18 Chinese Simplified, 19 Korean Wansung, 20 Chinese
// Traditional, 21 Korean Johab.
uint32_t CjkCodePages(uint32_t codePageRange1)
{
    uint32_t pages = 0;
    if (codePageRange1 & (1u << 20)) {
        pages |= 1u << int(CjkOrdering::kCns);
    }
    if (codePageRange1 & (1u << 18)) {
        pages |= 1u << int(CjkOrdering::kGb);
    }
    if (codePageRange1 & (1u << 17)) {
        pages |= 1u << int(CjkOrdering::kJapan);
    }
    if (codePageRange1 & ((1u << 19) | (1u << 21))) {
        pages |= 1u << int(CjkOrdering::kKorea);
    }
    return pages;
}

bool Contains(const std::string& text, std::initializer_list<std::string_view> words)
{
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view word) { return text.find(word) != std::string::npos; });
}

}  // namespace

FontName ParsePdfFontName(std::string_view name)
{
    name = WithoutSubsetTag(name);
    FontName parsed;
    const size_t separator = name.find_last_of(",-");
    const bool styled = separator != std::string_view::npos && ParseStyle(name.substr(separator + 1), parsed);
    const std::string_view family = WithoutVendorSuffix(styled ? name.substr(0, separator) : name);
    parsed.family = Reduce(family);
    parsed.full = parsed.family;
    if (styled) {
        parsed.full += Reduce(WithoutVendorSuffix(name.substr(separator + 1)));
    }
    return parsed;
}

bool IsStandardFontName(const FontName& name)
{
    for (const char* family : {"courier", "helvetica", "times", "symbol", "zapfdingbats"}) {
        if (name.family == family) {
            return true;
        }
    }
    return false;
}

std::vector<FontName> ParseListedFontNames(std::string_view listed)
{
    listed = Trim(listed);
    // Windows keeps the vertical "@" faces out of its list; Wine lists them as names of their own.
    if (listed.empty() || listed.front() == '@') {
        return {};
    }
    if (listed.back() == ')') {
        listed = Trim(listed.substr(0, std::min(listed.find_last_of('('), listed.size())));
    }
    std::vector<FontName> faces;
    while (!listed.empty()) {
        const size_t ampersand = std::min(listed.find(" & "), listed.size());
        faces.push_back(ParseListedFace(Trim(listed.substr(0, ampersand))));
        listed.remove_prefix(std::min(ampersand + 3, listed.size()));
    }
    return faces;
}

bool IsOutlineFontFile(std::string_view path)
{
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string extension = Reduce(path.substr(dot + 1));
    return extension == "ttf" || extension == "ttc" || extension == "otf" || extension == "otc";
}

int FaceCount(const unsigned char* data, size_t size)
{
    uint32_t version = 0;
    if (!ReadU32(data, size, 0, version)) {
        return 0;
    }
    if (version == Tag("ttcf")) {
        uint32_t count = 0;
        return ReadU32(data, size, 8, count) ? int(std::min(count, kMaxFaces)) : 0;
    }
    return IsSfntVersion(version) ? 1 : 0;
}

bool ReadFaceTraits(const unsigned char* data, size_t size, int face, FaceTraits& traits)
{
    uint32_t faceOffset = 0;
    uint32_t os2 = 0;
    uint32_t length = 0;
    if (!FaceOffset(data, size, face, faceOffset) || !FindTable(data, size, faceOffset, Tag("OS/2"), os2, length)) {
        return false;
    }
    uint32_t version = 0;
    uint32_t weight = 0;
    uint32_t familyClass = 0;
    uint32_t panose = 0;
    uint32_t selection = 0;
    uint32_t codePages = 0;
    // ulCodePageRange1 exists from version 1 on, at byte 78.
    if (length < 82 || !ReadU16(data, size, os2, version) || version < 1 || !ReadU16(data, size, os2 + 4, weight)
        || !ReadU16(data, size, os2 + 30, familyClass) || !ReadU16(data, size, os2 + 32, panose)
        || !ReadU16(data, size, os2 + 62, selection) || !ReadU32(data, size, os2 + 78, codePages)) {
        return false;
    }
    traits.cjkCodePages = CjkCodePages(codePages);
    traits.cjkCodePageCount = 0;
    for (uint32_t pages = traits.cjkCodePages; pages; pages &= pages - 1) {
        ++traits.cjkCodePageCount;
    }
    traits.serif = SerifFromOs2(familyClass >> 8, panose >> 8, panose & 0xFF);
    traits.bold = weight >= 600 || (selection & 0x20) != 0;
    return true;
}

bool Covers(const FaceTraits& traits, CjkOrdering ordering)
{
    return (traits.cjkCodePages & (1u << int(ordering))) != 0;
}

int SerifFromCjkName(const FontName& name)
{
    // Serif first: "HeiseiMin" is a Mincho whatever its "hei".
    if (Contains(name.family, {"mincho", "ming", "song", "sung", "simsun", "batang", "gungsuh", "myeongjo",
                               "myungjo", "heiseimin", "kozmin", "serif", "kai", "fang"})) {
        return 1;
    }
    if (Contains(name.family, {"gothic", "hei", "gulim", "dotum", "malgun", "meiryo", "kozgo", "sans", "kaku"})) {
        return 0;
    }
    return -1;
}

bool ChooseNamedFace(const std::vector<std::vector<FontName>>& listing, const FontName& wanted,
                     bool needsExactMetrics, FaceChoice& choice)
{
    if (wanted.family.empty()) {
        return false;
    }
    // 2: the face itself; 1: its family's upright face, to be drawn in the wanted style.
    int best = 0;
    for (size_t entry = 0; entry < listing.size(); ++entry) {
        for (size_t face = 0; face < listing[entry].size(); ++face) {
            const FontName& listed = listing[entry][face];
            const bool sameFamily = listed.family == wanted.family;
            const bool sameStyle = listed.bold == wanted.bold && listed.italic == wanted.italic;
            int score = 0;
            if (listed.full == wanted.full || (sameFamily && sameStyle)) {
                score = 2;
            } else if (sameFamily && !listed.bold && !listed.italic && !needsExactMetrics) {
                score = 1;
            }
            if (score > best) {
                best = score;
                choice.entry = entry;
                choice.face = int(face);
                choice.fakeBold = wanted.bold && !listed.bold;
                choice.fakeItalic = wanted.italic && !listed.italic;
            }
        }
    }
    return best > 0;
}

bool ChooseCjkFace(const std::vector<CandidateFace>& candidates, CjkOrdering ordering, bool serif, bool bold,
                   FaceChoice& choice)
{
    using Rank = std::tuple<int, int, int>;
    bool found = false;
    Rank best{};
    for (const CandidateFace& candidate : candidates) {
        const FaceTraits& traits = candidate.traits;
        if (!Covers(traits, ordering)) {
            continue;
        }
        const int style = traits.serif < 0 ? 1 : (traits.serif == 1) == serif ? 2 : 0;
        const Rank rank{style, traits.bold == bold ? 1 : 0, -traits.cjkCodePageCount};
        if (!found || rank > best) {
            found = true;
            best = rank;
            choice.entry = candidate.entry;
            choice.face = candidate.face;
            choice.fakeBold = bold && !traits.bold;
            choice.fakeItalic = false;
        }
    }
    return found;
}
