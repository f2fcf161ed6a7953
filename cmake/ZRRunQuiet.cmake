# SPDX-License-Identifier: GPL-2.0-or-later
# cmake "-DCOMMAND=PROGRAM|ARG|ARG..." -P ZRRunQuiet.cmake
# Runs a chatty tool (soapcpp2 prints a banner and a file list on every run
# and has no quiet mode) and shows what it printed only when it fails. The
# command comes in one definition, split at '|': arguments after -P would
# be read by cmake itself (soapcpp2's -L is cmake's "list the cache").
if(NOT COMMAND)
  message(FATAL_ERROR "usage: cmake \"-DCOMMAND=PROGRAM|ARG...\" -P ZRRunQuiet.cmake")
endif()
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${output}")
endif()
