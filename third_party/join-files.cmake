# Writes the files INPUTS into OUTPUT (cmake -P); each file from the Debian source trees in BASE comes
# under a line naming it.
set(text "")
foreach(input ${INPUTS})
    file(READ ${input} content)
    string(FIND ${input} "${BASE}/" at)
    if(at EQUAL 0)
        file(RELATIVE_PATH name ${BASE} ${input})
        string(APPEND text "==== ${name} ====\n\n")
    endif()
    string(APPEND text "${content}\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
