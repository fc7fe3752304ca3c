# Runs one test suite built for Windows (under EMULATOR, Wine, when cross-compiled) and shows
# what it wrote. Under Wine a suite's standard output reaches no stream CTest reads, so the
# suite writes its results to LOG, which is printed whatever the outcome; a suite that runs
# out of time is stopped here first, so that its last lines are printed too.
file(REMOVE "${LOG}")
execute_process(COMMAND ${EMULATOR} "${SUITE}" -o "${LOG},txt"
                RESULT_VARIABLE status TIMEOUT ${TIMEOUT})
if(EXISTS "${LOG}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${LOG}")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${SUITE}: ${status}")
endif()
