# jbig2dec, from Debian's jbig2dec source package: the JBIG2 decoder behind MuPDF's JBIG2Decode filter.

engine_source_tree(JBIG2DEC_DIR jbig2dec)

set(jbig2dec_sources
    jbig2.c jbig2_arith.c jbig2_arith_iaid.c jbig2_arith_int.c jbig2_generic.c jbig2_halftone.c
    jbig2_huffman.c jbig2_hufftab.c jbig2_image.c jbig2_mmr.c jbig2_page.c jbig2_refinement.c
    jbig2_segment.c jbig2_symbol_dict.c jbig2_text.c)
list(TRANSFORM jbig2dec_sources PREPEND ${JBIG2DEC_DIR}/)

engine_library(engine_jbig2dec ${jbig2dec_sources})
target_include_directories(engine_jbig2dec PUBLIC ${JBIG2DEC_DIR})
target_include_directories(engine_jbig2dec PRIVATE ${MUPDF_DIR}/include)
# jbig2.h defines inline away unless it is a macro, and the mingw-w64 headers read after it then turn
# their inline functions (llabs, atoll, ...) into external definitions that clash at link time.
target_compile_definitions(engine_jbig2dec PUBLIC inline=__inline__)
target_compile_definitions(engine_jbig2dec PRIVATE HAVE_STDINT_H "JBIG_EXTERNAL_MEMENTO_H=\"mupdf/memento.h\"")
