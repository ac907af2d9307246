// The engine's system-font hooks, answered from the installed fonts. The engine reports errors by
// longjmp, so the functions that call it hold only plain locals; the choice of a font, which
// allocates, is made and done with before them.
#include "renderer/system_fonts.h"

#include <new>

namespace {

SystemFontLookup* LookupOf(fz_context* ctx)
{
    return static_cast<SystemFontLookup*>(fz_user_context(ctx));
}

bool ChooseNamedFont(SystemFontLookup& lookup, const char* name, bool bold, bool italic, bool needsExactMetrics,
                     FaceChoice& choice) noexcept
{
    try {
        FontName wanted = ParsePdfFontName(name);
        // The standard 14 keep the engine's own fonts, and cost no look-up.
        if (IsStandardFontName(wanted)) {
            return false;
        }
        wanted.bold = wanted.bold || bold;
        wanted.italic = wanted.italic || italic;
        return lookup.FindNamed(wanted, needsExactMetrics, choice);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ChooseCjkFont(SystemFontLookup& lookup, const char* name, int ordering, bool serif, FaceChoice& choice) noexcept
{
    if (ordering < int(CjkOrdering::kCns) || ordering > int(CjkOrdering::kKorea)) {
        return false;
    }
    try {
        const FontName wanted = ParsePdfFontName(name);
        // A name that says Mincho or Gothic knows better than flags that writers often leave unset.
        const int serifFromName = SerifFromCjkName(wanted);
        return lookup.FindCjk(wanted, CjkOrdering(ordering), serifFromName < 0 ? serif : serifFromName == 1, choice);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// A font over the installed file's own bytes, which stay mapped and are never copied: a CJK
// collection of tens of megabytes costs the engine's memory ceiling only what FreeType reads into
// its own structures, and the time only of the pages it touches.
fz_font* NewInstalledFont(fz_context* ctx, FontBytes bytes, FaceChoice choice, int useGlyphBbox)
{
    fz_buffer* buffer = nullptr;
    fz_font* font = nullptr;
    fz_var(buffer);
    fz_var(font);
    fz_try(ctx)
    {
        buffer = fz_new_buffer_from_shared_data(ctx, bytes.data, bytes.size);
        font = fz_new_font_from_buffer(ctx, nullptr, buffer, choice.face, useGlyphBbox);
        fz_font_flags(font)->fake_bold = choice.fakeBold;
        fz_font_flags(font)->fake_italic = choice.fakeItalic;
    }
    fz_always(ctx)
    {
        fz_drop_buffer(ctx, buffer);
    }
    fz_catch(ctx)
    {
        fz_rethrow(ctx);
    }
    return font;
}

fz_font* LoadInstalledFont(fz_context* ctx, const char* name, int bold, int italic, int needsExactMetrics)
{
    SystemFontLookup* lookup = LookupOf(ctx);
    FaceChoice choice;
    if (!lookup || !name || !ChooseNamedFont(*lookup, name, bold, italic, needsExactMetrics, choice)) {
        return nullptr;
    }
    const FontBytes bytes = lookup->Bytes(choice.entry);
    return bytes.data ? NewInstalledFont(ctx, bytes, choice, 1) : nullptr;
}

// As the engine's own CJK fonts, without a cache of glyph boxes, which is too big for them.
fz_font* LoadInstalledCjkFont(fz_context* ctx, const char* name, int ordering, int serif)
{
    SystemFontLookup* lookup = LookupOf(ctx);
    FaceChoice choice;
    if (!lookup || !name || !ChooseCjkFont(*lookup, name, ordering, serif != 0, choice)) {
        return nullptr;
    }
    const FontBytes bytes = lookup->Bytes(choice.entry);
    return bytes.data ? NewInstalledFont(ctx, bytes, choice, 0) : nullptr;
}

}  // namespace

const std::vector<std::vector<FontName>>& SystemFontLookup::Names()
{
    if (!m_namesRead) {
        for (const std::string& entry : m_fonts.Listing()) {
            m_names.push_back(ParseListedFontNames(entry));
        }
        m_namesRead = true;
    }
    return m_names;
}

// Every face of every listed file that declares a CJK code page: each file's header and OS/2
// table are read once, the first time a collection's font is not found by name.
const std::vector<CandidateFace>& SystemFontLookup::Faces()
{
    if (!m_facesRead) {
        const size_t entries = m_fonts.Listing().size();
        for (size_t entry = 0; entry < entries; ++entry) {
            const FontBytes bytes = m_fonts.Bytes(entry);
            const int faces = FaceCount(bytes.data, bytes.size);
            for (int face = 0; face < faces; ++face) {
                FaceTraits traits;
                if (ReadFaceTraits(bytes.data, bytes.size, face, traits) && traits.cjkCodePages != 0) {
                    m_faces.push_back(CandidateFace{entry, face, traits});
                }
            }
        }
        m_facesRead = true;
    }
    return m_faces;
}

bool SystemFontLookup::FindNamed(const FontName& wanted, bool needsExactMetrics, FaceChoice& choice) noexcept
{
    try {
        return ChooseNamedFace(Names(), wanted, needsExactMetrics, choice);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool SystemFontLookup::FindCjk(const FontName& wanted, CjkOrdering ordering, bool serif, FaceChoice& choice) noexcept
{
    try {
        if (ChooseNamedFace(Names(), wanted, false, choice)) {
            const FontBytes bytes = m_fonts.Bytes(choice.entry);
            FaceTraits traits;
            // A named font that says nothing of its code pages is taken at the document's word.
            if (bytes.data && (!ReadFaceTraits(bytes.data, bytes.size, choice.face, traits) || Covers(traits, ordering))) {
                return true;
            }
        }
        return ChooseCjkFace(Faces(), ordering, serif, wanted.bold, choice);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void InstallSystemFonts(fz_context* ctx, SystemFontLookup& lookup) noexcept
{
    fz_set_user_context(ctx, &lookup);
    fz_install_load_system_font_funcs(ctx, LoadInstalledFont, LoadInstalledCjkFont, nullptr);
}
