# Upstream's mutool, the pixel reference: MuPDF's own command-line tools as its makefile builds them
# (MUTOOL_SRC), on the engine libraries built for this machine, with pthreads for mudraw's worker
# threads and the pkcs7 helper without OpenSSL, which turns signature checks off.

set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG")
set(tools ${MUPDF_DIR}/source/tools)
file(GLOB mutool_pdf_sources CONFIGURE_DEPENDS ${tools}/pdf*.c)
add_executable(mutool
    ${tools}/mutool.c ${tools}/muconvert.c ${tools}/mudraw.c ${tools}/murun.c ${tools}/mutrace.c
    ${tools}/cmapdump.c ${mutool_pdf_sources}
    ${MUPDF_DIR}/source/helpers/mu-threads/mu-threads.c
    ${MUPDF_DIR}/source/helpers/pkcs7/pkcs7-openssl.c)
target_compile_options(mutool PRIVATE -w)
target_compile_definitions(mutool PRIVATE HAVE_PTHREAD)
target_link_libraries(mutool PRIVATE pdf_engine Threads::Threads)
# The engine's maths, after its static libraries (MinGW's C runtime has it built in).
target_link_libraries(engine_mupdf INTERFACE m)
