# SPDX-License-Identifier: GPL-2.0-or-later
# Makes the man page of quillon-cli with help2man from the program's --help
# and --version and the include file, dated DATE (YYYY-MM-DD): help2man writes
# "Month Year", which man page linters cannot read as a date.
#
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DDATE=... -DOUTPUT=... -P make-man-page.cmake
foreach(variable HELP2MAN PROGRAM INCLUDE DATE OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "make-man-page.cmake: ${variable} is not set")
    endif()
endforeach()

execute_process(
    COMMAND ${HELP2MAN} --no-info --include=${INCLUDE} --output=${OUTPUT}.tmp ${PROGRAM}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "make-man-page.cmake: help2man failed on ${PROGRAM}: ${status}")
endif()

file(READ ${OUTPUT}.tmp page)
string(REGEX REPLACE "(\n\\.TH [^ ]+ \"[^\"]*\") \"[^\"]*\"" "\\1 \"${DATE}\"" dated "${page}")
if(dated STREQUAL page)
    message(FATAL_ERROR "make-man-page.cmake: no .TH line with a date in help2man's output")
endif()
file(WRITE ${OUTPUT} "${dated}")
file(REMOVE ${OUTPUT}.tmp)
