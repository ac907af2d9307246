# Configures the x86 tree the first time, then builds it and puts the 64-bit renderer beside its
# DLL: run by the x64 build, so that one build command makes both bitnesses. Takes SOURCE_DIR,
# BINARY_DIR, GENERATOR, BUILD_TYPE, BUILD_TESTING and RENDERER (the x64 tree's TorvView.exe).
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
# The x86 tree builds no renderer: its DLL starts the one 64-bit TorvView.exe beside it.
file(COPY_FILE ${RENDERER} ${BINARY_DIR}/bin/TorvView.exe ONLY_IF_DIFFERENT)
