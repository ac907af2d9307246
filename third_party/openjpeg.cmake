# OpenJPEG, from Debian's openjpeg2 source package: the JPEG 2000 decoder behind MuPDF's JPXDecode
# filter. MuPDF supplies its allocator and locks; the decoder runs single-threaded.

engine_source_tree(OPENJPEG_DIR openjpeg2)
set(openjp2 ${OPENJPEG_DIR}/src/lib/openjp2)

# The configuration headers that OpenJPEG's own CMake build writes, with its version and this target.
function(configure_openjpeg_headers)
    foreach(part MAJOR MINOR BUILD)
        file(STRINGS ${OPENJPEG_DIR}/CMakeLists.txt line REGEX "^set\\(OPENJPEG_VERSION_${part} [0-9]+\\)")
        string(REGEX REPLACE ".* ([0-9]+)\\)" "\\1" OPENJPEG_VERSION_${part} "${line}")
    endforeach()
    set(PACKAGE_VERSION ${OPENJPEG_VERSION_MAJOR}.${OPENJPEG_VERSION_MINOR}.${OPENJPEG_VERSION_BUILD})
    set(OPJ_HAVE_STDINT_H 1)
    set(OPJ_HAVE_INTTYPES_H 1)
    set(OPJ_HAVE_MALLOC_H 1)
    if(WIN32)
        set(OPJ_HAVE__ALIGNED_MALLOC 1)
    else()
        set(OPJ_HAVE_POSIX_MEMALIGN 1)
    endif()
    configure_file(${openjp2}/opj_config.h.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/openjpeg/opj_config.h)
    configure_file(${openjp2}/opj_config_private.h.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/openjpeg/opj_config_private.h)
endfunction()
configure_openjpeg_headers()

set(openjpeg_sources
    bio.c cio.c dwt.c event.c function_list.c ht_dec.c image.c invert.c j2k.c jp2.c mct.c mqc.c
    openjpeg.c pi.c sparse_array.c t1.c t2.c tcd.c tgt.c thread.c)
list(TRANSFORM openjpeg_sources PREPEND ${openjp2}/)

engine_library(engine_openjpeg ${openjpeg_sources})
target_include_directories(engine_openjpeg PUBLIC ${openjp2} ${CMAKE_CURRENT_BINARY_DIR}/openjpeg)
target_compile_definitions(engine_openjpeg PUBLIC OPJ_STATIC OPJ_HAVE_INTTYPES_H OPJ_HAVE_STDINT_H)
target_compile_definitions(engine_openjpeg PRIVATE MUTEX_pthread=0)
