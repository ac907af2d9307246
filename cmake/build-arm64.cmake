# Makes the ARM64 toolchain unless the cache has it (cmake/arm64-toolchain.sh: once per machine),
# configures the ARM64 tree the first time, then builds it: run by the x64 build, so that one build
# command makes every architecture. Takes SOURCE_DIR, BINARY_DIR, GENERATOR, BUILD_TYPE,
# BUILD_TESTING and X64_BINARY_DIR (the x64 tree, whose renderer the ARM64 one is compared with).
execute_process(COMMAND nice -n 10 sh ${SOURCE_DIR}/cmake/arm64-toolchain.sh make
                OUTPUT_VARIABLE toolchain OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "making the ARM64 toolchain failed (-DTORV_BUILD_ARM64=OFF leaves the ARM64 tree out)")
endif()
# A tree configured with another toolchain (a new recipe or Debian version) starts again from
# nothing: CMake cannot change the compilers of a configured tree.
if(EXISTS ${BINARY_DIR}/CMakeCache.txt)
    file(STRINGS ${BINARY_DIR}/CMakeCache.txt configured REGEX "^TORV_ARM64_TOOLCHAIN:")
    if(NOT configured MATCHES "=${toolchain}$")
        message(STATUS "The ARM64 tree ${BINARY_DIR} was configured with another toolchain: configuring it anew")
        file(REMOVE_RECURSE ${BINARY_DIR})
    endif()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/sibling-tree.cmake)
torv_build_sibling_tree(ARM64 ${BINARY_DIR} ${SOURCE_DIR}/cmake/mingw-w64-aarch64.cmake
                        -DTORV_ARM64_TOOLCHAIN=${toolchain} -DTORV_X64_BINARY_DIR=${X64_BINARY_DIR})
