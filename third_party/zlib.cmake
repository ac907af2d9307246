# zlib, from Debian's zlib source package: the compression core that MuPDF's filters call (no gz* file I/O).

engine_source_tree(ZLIB_DIR zlib)

engine_library(engine_zlib
    ${ZLIB_DIR}/adler32.c
    ${ZLIB_DIR}/compress.c
    ${ZLIB_DIR}/crc32.c
    ${ZLIB_DIR}/deflate.c
    ${ZLIB_DIR}/inffast.c
    ${ZLIB_DIR}/inflate.c
    ${ZLIB_DIR}/inftrees.c
    ${ZLIB_DIR}/trees.c
    ${ZLIB_DIR}/uncompr.c
    ${ZLIB_DIR}/zutil.c)
target_include_directories(engine_zlib PUBLIC ${ZLIB_DIR})
target_compile_definitions(engine_zlib PRIVATE HAVE_UNISTD_H HAVE_STDARG_H)
