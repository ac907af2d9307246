# MuPDF, from Debian's mupdf source package (Debian strips the bundled third-party libraries, which
# are built here from their own packages): the PDF interpreter and renderer, with the base-14 fonts
# and the predefined CJK CMaps, and none of the other document formats, ICC colour management,
# JavaScript or fallback fonts.

# What the library is built with and what a program including its headers must agree on.
set(MUPDF_CONFIGURATION
    FZ_ENABLE_XPS=0 FZ_ENABLE_SVG=0 FZ_ENABLE_CBZ=0 FZ_ENABLE_IMG=0 FZ_ENABLE_HTML=0
    FZ_ENABLE_EPUB=0 FZ_ENABLE_FB2=0 FZ_ENABLE_MOBI=0 FZ_ENABLE_TXT=0 FZ_ENABLE_OFFICE=0
    FZ_ENABLE_JS=0 FZ_ENABLE_ICC=0 FZ_ENABLE_OCR_OUTPUT=0 FZ_ENABLE_DOCX_OUTPUT=0
    FZ_ENABLE_ODT_OUTPUT=0 TOFU TOFU_CJK
    # Only deskewing (for OCR, which this build leaves out) has SSE code, and it needs SSE4.1,
    # which mingw-w64's _M_AMD64 would switch on for every x86-64 CPU.
    ARCH_HAS_SSE=0)

set(MUPDF_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/mupdf-generated)

# The predefined CMaps (CJK encodings), as Debian's build makes them with MuPDF's own script.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB cmap_files CONFIGURE_DEPENDS ${MUPDF_DIR}/resources/cmaps/*)
set(mupdf_cmap_headers "")
foreach(cmap ${cmap_files})
    get_filename_component(name ${cmap} NAME)
    set(header ${MUPDF_GENERATED}/cmaps/${name}.h)
    add_custom_command(OUTPUT ${header}
        COMMAND ${CMAKE_COMMAND} -DCOMMAND=${Python3_EXECUTABLE} "-DARGUMENTS=${MUPDF_DIR}/scripts/cmapdump.py;${cmap}"
                -DOUTPUT=${header} -P ${CMAKE_CURRENT_SOURCE_DIR}/run-to-file.cmake
        DEPENDS ${cmap} ${MUPDF_DIR}/scripts/cmapdump.py ${CMAKE_CURRENT_SOURCE_DIR}/run-to-file.cmake
        VERBATIM)
    list(APPEND mupdf_cmap_headers ${header})
endforeach()

# The base-14 fonts: Debian's URW Type 1 fonts turned into compact CFF (subset to the glyphs of
# MuPDF's subset.mes list, as Debian's build does with the same tool), then into C arrays.
find_program(TX tx PATHS /usr/libexec/afdko REQUIRED)
set(urw_subset ${MUPDF_DIR}/resources/fonts/urw/subset.mes)
file(STRINGS ${urw_subset} urw_glyphs)
set(mupdf_font_sources "")
# Font file name in Debian's package, the name MuPDF gives it, and whether it is subset.
foreach(font
        NimbusMonoPS-Regular:NimbusMonoPS-Regular:subset NimbusMonoPS-Italic:NimbusMonoPS-Italic:subset
        NimbusMonoPS-Bold:NimbusMonoPS-Bold:subset NimbusMonoPS-BoldItalic:NimbusMonoPS-BoldItalic:subset
        NimbusSans-Regular:NimbusSans-Regular:subset NimbusSans-Italic:NimbusSans-Italic:subset
        NimbusSans-Bold:NimbusSans-Bold:subset NimbusSans-BoldItalic:NimbusSans-BoldItalic:subset
        NimbusRoman-Regular:NimbusRoman-Regular:subset NimbusRoman-Italic:NimbusRoman-Italic:subset
        NimbusRoman-Bold:NimbusRoman-Bold:subset NimbusRoman-BoldItalic:NimbusRoman-BoldItalic:subset
        StandardSymbolsPS:StandardSymbolsPS:whole D050000L:Dingbats:whole)
    string(REPLACE ":" ";" font ${font})
    list(GET font 0 debian_name)
    list(GET font 1 name)
    list(GET font 2 extent)
    set(glyphs "")
    if(extent STREQUAL "subset")
        set(glyphs -g ${urw_glyphs})
    endif()
    set(cff ${MUPDF_GENERATED}/fonts/${name}.cff)
    add_custom_command(OUTPUT ${cff}.c
        COMMAND ${TX} -cff +S +T -b -n ${glyphs} ${URW_DIR}/fonts/${debian_name}.t1 ${cff}
        COMMAND ${CMAKE_COMMAND} -DCOMMAND=bash "-DARGUMENTS=${MUPDF_DIR}/scripts/hexdump.sh;${cff}"
                -DOUTPUT=${cff}.c -P ${CMAKE_CURRENT_SOURCE_DIR}/run-to-file.cmake
        DEPENDS ${URW_DIR}/fonts/${debian_name}.t1 ${urw_subset} ${MUPDF_DIR}/scripts/hexdump.sh
        VERBATIM)
    list(APPEND mupdf_font_sources ${cff}.c)
endforeach()

file(GLOB mupdf_sources CONFIGURE_DEPENDS ${MUPDF_DIR}/source/fitz/*.c ${MUPDF_DIR}/source/pdf/*.c)
# Text shaping (for HTML) and the Word writer: they need HarfBuzz and Artifex's extract library,
# which this build leaves out.
list(REMOVE_ITEM mupdf_sources
    ${MUPDF_DIR}/source/fitz/harfbuzz.c
    ${MUPDF_DIR}/source/fitz/output-docx.c)

engine_library(engine_mupdf ${mupdf_sources} ${mupdf_font_sources} ${mupdf_cmap_headers})
target_include_directories(engine_mupdf PUBLIC ${MUPDF_DIR}/include)
target_include_directories(engine_mupdf PRIVATE ${MUPDF_DIR}/source/fitz ${MUPDF_GENERATED})
target_compile_definitions(engine_mupdf PUBLIC ${MUPDF_CONFIGURATION})
# SHARE_JPEG: a libjpeg built apart from MuPDF (libjpeg-turbo, with its own memory manager), as in
# Debian's build.
target_compile_definitions(engine_mupdf PRIVATE SHARE_JPEG)
target_link_libraries(engine_mupdf PRIVATE
    engine_freetype engine_jbig2dec engine_openjpeg engine_libjpeg engine_zlib)
