# Runs a Qt Test program with its report written to a file, then shows the
# report; fails where the program did. Under Wine a report sent to a pipe is lost.
#   cmake -DRUN=wine -DPROGRAM=... -DSCREENS=... -DREPORT=... -P qtestreport.cmake
execute_process(COMMAND ${RUN} ${PROGRAM} -platform offscreen:configfile=${SCREENS} -o ${REPORT},txt
                RESULT_VARIABLE result)
if(EXISTS ${REPORT})
  file(READ ${REPORT} report)
  message("${report}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${result}")
endif()
