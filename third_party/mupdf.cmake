# MuPDF, from Debian's mupdf source package (Debian strips the bundled third-party libraries, which
# are built here from their own packages): the PDF interpreter and renderer, with the base-14 fonts
# and none of the other document formats, ICC colour management, JavaScript or CJK fallback font.

# What the library is built with and what a program including its headers must agree on.
set(MUPDF_CONFIGURATION
    FZ_ENABLE_XPS=0 FZ_ENABLE_SVG=0 FZ_ENABLE_CBZ=0 FZ_ENABLE_IMG=0 FZ_ENABLE_HTML=0
    FZ_ENABLE_EPUB=0 FZ_ENABLE_JS=0 FZ_ENABLE_ICC=0 FZ_ENABLE_OCR_OUTPUT=0
    FZ_ENABLE_DOCX_OUTPUT=0 FZ_ENABLE_ODT_OUTPUT=0 TOFU TOFU_CJK)

file(GLOB mupdf_sources CONFIGURE_DEPENDS
    ${MUPDF_DIR}/source/fitz/*.c
    ${MUPDF_DIR}/source/pdf/*.c
    ${MUPDF_DIR}/generated/resources/fonts/urw/*.cff.c)
# Text shaping (for HTML) and the Word writer: they need HarfBuzz and Artifex's extract library,
# which this build leaves out.
list(REMOVE_ITEM mupdf_sources
    ${MUPDF_DIR}/source/fitz/harfbuzz.c
    ${MUPDF_DIR}/source/fitz/output-docx.c)

engine_library(engine_mupdf ${mupdf_sources} stand-ins/gumbo.c)
target_include_directories(engine_mupdf PUBLIC ${MUPDF_DIR}/include)
target_include_directories(engine_mupdf PRIVATE ${MUPDF_DIR}/source/fitz stand-ins)
target_compile_definitions(engine_mupdf PUBLIC ${MUPDF_CONFIGURATION})
# SHARE_JPEG: a libjpeg built apart from MuPDF (libjpeg-turbo, with its own memory manager), as in
# Debian's build.
target_compile_definitions(engine_mupdf PRIVATE SHARE_JPEG)
target_link_libraries(engine_mupdf PRIVATE
    engine_freetype engine_jbig2dec engine_openjpeg engine_libjpeg engine_zlib)
