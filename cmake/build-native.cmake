# Configures the native trees of tests/native the first time, then builds them: run by the x64 build,
# so that one build command also makes the renderer's pixel reference (mutool, in NATIVE_DIR) and its
# fuzz target (in FUZZ_DIR). Takes SOURCE_DIR, NATIVE_DIR, FUZZ_DIR, GENERATOR.
function(build_native_tree dir)
    if(NOT EXISTS ${dir}/CMakeCache.txt)
        execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/native -B ${dir} -G ${GENERATOR}
                                -DCMAKE_BUILD_TYPE=Release ${ARGN}
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "configuring the native tree ${dir} failed")
        endif()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "building the native tree ${dir} failed")
    endif()
endfunction()

build_native_tree(${NATIVE_DIR})
build_native_tree(${FUZZ_DIR} -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTORV_FUZZ=ON)
