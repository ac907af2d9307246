# Runs COMMAND with ARGUMENTS and writes its standard output into OUTPUT (cmake -P), for generators
# that print what they make; the output is written only if the command succeeds.
execute_process(COMMAND ${COMMAND} ${ARGUMENTS} OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${COMMAND} ${ARGUMENTS}: ${status}")
endif()
file(WRITE ${OUTPUT} "${text}")
