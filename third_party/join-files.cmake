# Writes the files INPUTS into OUTPUT, each under a line naming it (relative to BASE when inside it);
# run with cmake -P.
set(text "")
foreach(input ${INPUTS})
    get_filename_component(name ${input} NAME)
    string(FIND ${input} "${BASE}/" at)
    if(at EQUAL 0)
        file(RELATIVE_PATH name ${BASE} ${input})
    endif()
    file(READ ${input} content)
    string(APPEND text "==== ${name} ====\n\n${content}\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
