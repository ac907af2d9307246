// Fonts a document names without embedding them, answered from the fonts installed on the machine
// through the engine's system-font hooks. Portable: where the font list and the files come from is
// the platform's part (registry_fonts.h on Windows).
#pragma once

#include "renderer/font_match.h"

#include <mupdf/fitz.h>

#include <cstddef>
#include <string>
#include <vector>

// A font file's bytes, readable for as long as the InstalledFonts that gave them lives.
struct FontBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// The fonts installed on the machine: the system's font list and the files it names.
class InstalledFonts {
public:
    virtual ~InstalledFonts() = default;
    // The list's entries as the system names them ("MS Gothic & MS PGothic (TrueType)"), in UTF-8,
    // outline font files only; read on the first call. May throw std::bad_alloc.
    virtual const std::vector<std::string>& Listing() = 0;
    // The bytes of entry i's file; empty if it cannot be read.
    virtual FontBytes Bytes(size_t entry) noexcept = 0;
};

// Chooses installed fonts for the engine's requests, and remembers what it read of the list and
// the files. Nothing is read until the engine asks for a font it does not have.
class SystemFontLookup {
public:
    explicit SystemFontLookup(InstalledFonts& fonts) noexcept : m_fonts(fonts) {}

    // The installed face for a named font (not one of the standard 14); false if none is named so.
    bool FindNamed(const FontName& wanted, bool needsExactMetrics, FaceChoice& choice) noexcept;
    // The installed face for CJK text of a collection: the named font if it covers the collection,
    // else the best face that does. False if none does.
    bool FindCjk(const FontName& wanted, CjkOrdering ordering, bool serif, FaceChoice& choice) noexcept;

    FontBytes Bytes(size_t entry) noexcept { return m_fonts.Bytes(entry); }

private:
    const std::vector<std::vector<FontName>>& Names();
    const std::vector<CandidateFace>& Faces();

    InstalledFonts& m_fonts;
    bool m_namesRead = false;
    std::vector<std::vector<FontName>> m_names;
    bool m_facesRead = false;
    std::vector<CandidateFace> m_faces;
};

// Makes the engine context ask lookup for the fonts that documents name without embedding them;
// lookup must outlive every font of the context.
void InstallSystemFonts(fz_context* ctx, SystemFontLookup& lookup) noexcept;
