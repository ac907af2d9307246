# Configures the x86 tree the first time, then builds it: run by the x64 build, so that one build
# command makes both bitnesses. Takes SOURCE_DIR, BINARY_DIR, GENERATOR, BUILD_TYPE, BUILD_TESTING.
if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
                            -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-i686.cmake
                            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DBUILD_TESTING=${BUILD_TESTING}
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "configuring the x86 tree ${BINARY_DIR} failed")
    endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "building the x86 tree ${BINARY_DIR} failed")
endif()
