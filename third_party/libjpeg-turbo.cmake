# libjpeg-turbo, from Debian's libjpeg-turbo source package: the JPEG codec behind MuPDF's DCTDecode
# filter, with the libjpeg 6b interface, compiled without its SIMD code (which needs nasm).

engine_source_tree(LIBJPEG_DIR libjpeg-turbo)

# The configuration headers that libjpeg-turbo's own CMake build writes for the target: Windows's
# jconfig.h has its own boolean and INT32 types, which a native build must not take.
function(configure_libjpeg_headers)
    file(STRINGS ${LIBJPEG_DIR}/CMakeLists.txt line REGEX "^set\\(VERSION [0-9.]+\\)")
    string(REGEX REPLACE ".* ([0-9.]+)\\)" "\\1" VERSION "${line}")
    file(STRINGS ${LIBJPEG_DIR}/CMakeLists.txt line REGEX "^set\\(COPYRIGHT_YEAR \"[0-9-]+\"\\)")
    string(REGEX REPLACE ".*\"([0-9-]+)\"\\)" "\\1" COPYRIGHT_YEAR "${line}")
    string(REPLACE "." ";" version_parts ${VERSION})
    list(GET version_parts 0 major)
    list(GET version_parts 1 minor)
    list(GET version_parts 2 revision)
    math(EXPR LIBJPEG_TURBO_VERSION_NUMBER "${major} * 1000000 + ${minor} * 1000 + ${revision}")
    set(JPEG_LIB_VERSION 62)
    set(BITS_IN_JSAMPLE 8)
    set(C_ARITH_CODING_SUPPORTED 1)
    set(D_ARITH_CODING_SUPPORTED 1)
    set(MEM_SRCDST_SUPPORTED 1)
    set(WITH_SIMD 0)
    set(INLINE "__inline__ __attribute__((always_inline))")
    set(THREAD_LOCAL "__thread")
    set(CMAKE_PROJECT_NAME libjpeg-turbo)
    set(SIZE_T ${CMAKE_SIZEOF_VOID_P})
    # A fixed build string, so that the library does not change with the day it was built.
    set(BUILD "Debian")
    if(WIN32)
        configure_file(${LIBJPEG_DIR}/win/jconfig.h.in ${CMAKE_CURRENT_BINARY_DIR}/libjpeg/jconfig.h)
    else()
        configure_file(${LIBJPEG_DIR}/jconfig.h.in ${CMAKE_CURRENT_BINARY_DIR}/libjpeg/jconfig.h)
    endif()
    configure_file(${LIBJPEG_DIR}/jconfigint.h.in ${CMAKE_CURRENT_BINARY_DIR}/libjpeg/jconfigint.h)
    configure_file(${LIBJPEG_DIR}/jversion.h.in ${CMAKE_CURRENT_BINARY_DIR}/libjpeg/jversion.h)
endfunction()
configure_libjpeg_headers()

set(libjpeg_sources
    jcapimin.c jcapistd.c jccoefct.c jccolor.c jcdctmgr.c jchuff.c jcicc.c jcinit.c jcmainct.c
    jcmarker.c jcmaster.c jcomapi.c jcparam.c jcphuff.c jcprepct.c jcsample.c jctrans.c jdapimin.c
    jdapistd.c jdatadst.c jdatasrc.c jdcoefct.c jdcolor.c jddctmgr.c jdhuff.c jdicc.c jdinput.c
    jdmainct.c jdmarker.c jdmaster.c jdmerge.c jdphuff.c jdpostct.c jdsample.c jdtrans.c jerror.c
    jfdctflt.c jfdctfst.c jfdctint.c jidctflt.c jidctfst.c jidctint.c jidctred.c jquant1.c
    jquant2.c jutils.c jmemmgr.c jmemnobs.c jaricom.c jcarith.c jdarith.c jsimd_none.c)
list(TRANSFORM libjpeg_sources PREPEND ${LIBJPEG_DIR}/)

engine_library(engine_libjpeg ${libjpeg_sources})
target_include_directories(engine_libjpeg PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/libjpeg ${LIBJPEG_DIR})
