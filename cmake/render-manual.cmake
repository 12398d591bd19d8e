# Renders the manual page for hosts without man: as HTML with mandoc, or else
# as plain text with CR LF line ends with groff.
#   cmake -DTOOL=<mandoc or groff> -DIN=vorna.1 -DOUT=<file> -P render-manual.cmake
get_filename_component(tool_name "${TOOL}" NAME_WE)
if(tool_name STREQUAL "mandoc")
  execute_process(COMMAND "${TOOL}" -T html -O "man=%N.%S.html" "${IN}"
                  OUTPUT_VARIABLE page RESULT_VARIABLE status)
else()
  # -P -cbou: plain characters, no overstriking for bold or underline.
  execute_process(COMMAND "${TOOL}" -man -T ascii -P -cbou "${IN}"
                  OUTPUT_VARIABLE page RESULT_VARIABLE status)
  string(REPLACE "\n" "\r\n" page "${page}")
endif()
if(NOT status EQUAL 0 OR page STREQUAL "")
  message(FATAL_ERROR "${TOOL} could not render ${IN}")
endif()
file(WRITE "${OUT}" "${page}")
