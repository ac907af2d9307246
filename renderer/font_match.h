// Which installed font answers a font that a document names without embedding it: names as PDF
// writers and the system's font list spell them, and what a font file says of itself. Portable and
// free of the engine, so that it is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A font name reduced for comparison: ASCII letters lower-cased, digits and other bytes kept
// (a name in a national encoding stays distinct), spaces and punctuation gone.
struct FontName {
    std::string family;  // without the style words: "ms gothic", "MS-Gothic,Bold" -> "msgothic"
    std::string full;    // with them, so that "NanumGothicBold" meets "NanumGothic Bold"
    bool bold = false;
    bool italic = false;
};

// A PDF font name ("ABCDEF+Arial-BoldMT", "MS-Gothic,Bold"): the subset tag, a trailing MT or PS
// and a style suffix after the last comma or hyphen are taken off the family.
FontName ParsePdfFontName(std::string_view name);

// True for the standard 14 fonts of ISO 32000 in any of their styles: they keep the engine's own.
bool IsStandardFontName(const FontName& name);

// The faces that one entry of the system's font list names, in the file's face order:
// "MS Gothic & MS UI Gothic & MS PGothic (TrueType)" names faces 0, 1 and 2. Empty for an entry
// that names no outline font file.
std::vector<FontName> ParseListedFontNames(std::string_view listed);

// Whether the file's name says it holds outline fonts the engine can read (.ttf, .ttc, .otf, .otc).
bool IsOutlineFontFile(std::string_view path);

// The character collections of CJK fonts, as the engine numbers them (FZ_ADOBE_CNS ... KOREA).
enum class CjkOrdering { kCns = 0, kGb = 1, kJapan = 2, kKorea = 3 };

// What one face of a font file says of itself in its OS/2 table.
struct FaceTraits {
    uint32_t cjkCodePages = 0;  // bit per CjkOrdering whose code page it declares
    int cjkCodePageCount = 0;   // how many CJK code pages it declares: fewer is more specific
    int serif = -1;             // 1 serif, 0 sans serif, -1 not said
    bool bold = false;
};

// The number of faces in a font file (a collection's count, or 1), 0 if it is not one.
int FaceCount(const unsigned char* data, size_t size);
// The traits of face `face`; false if the face or its OS/2 table cannot be read.
bool ReadFaceTraits(const unsigned char* data, size_t size, int face, FaceTraits& traits);

// Whether a face declares the code page of the collection.
bool Covers(const FaceTraits& traits, CjkOrdering ordering);

// Whether a CJK font name says serif (Mincho, Song, SimSun, Ming, Batang...) or sans (Gothic, Hei, Gulim...):
// 1, 0, or -1 when it says neither.
int SerifFromCjkName(const FontName& name);

// A face of the font list chosen for a request.
struct FaceChoice {
    size_t entry = 0;  // the font list's entry
    int face = 0;      // the face in its file
    bool fakeBold = false;
    bool fakeItalic = false;
};

// The listed face that is the named font: the same full name, or the same family in the same
// style, or else (unless exact metrics are needed) the family's upright face, drawn bold or
// italic by the engine. False when the family is not listed.
bool ChooseNamedFace(const std::vector<std::vector<FontName>>& listing, const FontName& wanted,
                     bool needsExactMetrics, FaceChoice& choice);

// One face of the font list and its traits, for the choice by collection.
struct CandidateFace {
    size_t entry;
    int face;
    FaceTraits traits;
};

// The best face for a collection: it must declare the collection's code page; then the wanted
// serif style, then the wanted weight, then the most specific font (fewest CJK code pages) win,
// and on a tie the one listed first. False if no face declares the code page.
bool ChooseCjkFace(const std::vector<CandidateFace>& candidates, CjkOrdering ordering, bool serif, bool bold,
                   FaceChoice& choice);
