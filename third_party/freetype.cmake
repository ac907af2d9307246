# FreeType, from Debian's freetype source package, with the modules and options MuPDF selects for
# its own builds (scripts/freetype/slim*.h in MuPDF's source).

engine_source_tree(FREETYPE_DIR freetype)

set(freetype_sources
    base/ftbase.c base/ftbbox.c base/ftbitmap.c base/ftdebug.c base/ftgasp.c base/ftglyph.c
    base/ftfstype.c base/ftinit.c base/ftstroke.c base/ftsynth.c base/ftsystem.c base/fttype1.c
    cff/cff.c cid/type1cid.c psaux/psaux.c pshinter/pshinter.c psnames/psnames.c raster/raster.c
    sfnt/sfnt.c smooth/smooth.c truetype/truetype.c type1/type1.c)
list(TRANSFORM freetype_sources PREPEND ${FREETYPE_DIR}/src/)

engine_library(engine_freetype ${freetype_sources})
target_include_directories(engine_freetype PUBLIC ${FREETYPE_DIR}/include)
target_include_directories(engine_freetype PRIVATE ${MUPDF_DIR}/scripts/freetype)
target_compile_definitions(engine_freetype PRIVATE
    FT2_BUILD_LIBRARY
    "FT_CONFIG_MODULES_H=\"slimftmodules.h\""
    "FT_CONFIG_OPTIONS_H=\"slimftoptions.h\"")
