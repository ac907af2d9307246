# Cross-compiles for ARM64 Windows with Debian's clang-19 and lld-19, and the mingw-w64 runtime, the
# compiler-rt builtins and the static libc++ that cmake/arm64-toolchain.sh builds once per machine
# into a cache outside the clone (TORV_ARM64_TOOLCHAIN names the one this tree uses).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

# Found once per tree, and again when the cache no longer has it (a new version was built).
if(NOT TORV_ARM64_TOOLCHAIN OR NOT EXISTS "${TORV_ARM64_TOOLCHAIN}/complete")
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/arm64-toolchain.sh path
                    OUTPUT_VARIABLE toolchain ERROR_VARIABLE why RESULT_VARIABLE status
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${why}")
    endif()
    set(TORV_ARM64_TOOLCHAIN ${toolchain} CACHE PATH "The ARM64 toolchain (cmake/arm64-toolchain.sh)" FORCE)
endif()
# try_compile projects run this file again: they take the same toolchain.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TORV_ARM64_TOOLCHAIN)

set(TOOLCHAIN_PREFIX aarch64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-clang)
set(CMAKE_CXX_COMPILER ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-clang++)
set(CMAKE_RC_COMPILER  ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR           ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-ar)
set(CMAKE_RANLIB       ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-ranlib)
set(CMAKE_OBJDUMP      ${TORV_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}-objdump)

# clang fuses a multiplication and an addition into one instruction (FMA) where ARM64 has it, which
# rounds once instead of twice: the engine's geometry then lands a few edge pixels differently from
# the x64 build's (GCC for x86-64 has no FMA to use). Unfused, both draw the same pixels.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
# The image checksum in the PE header, which GNU ld writes and lld does not unless asked (lld-link's
# /release): a program signed and then stripped of its signature is the file as built again.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,--Xlink=-release")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${TORV_ARM64_TOOLCHAIN}/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
