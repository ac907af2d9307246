# torv_build_sibling_tree(NAME BINARY_DIR TOOLCHAIN_FILE [cache arguments...]): configures a tree of
# another architecture the first time, with the toolchain file and the given -D arguments, then
# builds it. Used by the steps that the x64 build runs for the x86 and ARM64 trees.
function(torv_build_sibling_tree name binary_dir toolchain_file)
    if(NOT EXISTS ${binary_dir}/CMakeCache.txt)
        execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${binary_dir} -G ${GENERATOR}
                                -DCMAKE_TOOLCHAIN_FILE=${toolchain_file}
                                -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DBUILD_TESTING=${BUILD_TESTING} ${ARGN}
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "configuring the ${name} tree ${binary_dir} failed")
        endif()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${binary_dir} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "building the ${name} tree ${binary_dir} failed")
    endif()
endfunction()
