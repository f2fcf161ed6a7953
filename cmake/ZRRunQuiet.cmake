# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -P ZRRunQuiet.cmake -- COMMAND [ARG...]
# Runs a chatty tool (soapcpp2 prints a banner and a file list on every run
# and has no quiet mode) and shows what it printed only when it fails.
set(command)
set(collect FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(collect)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(collect TRUE)
  endif()
endforeach()
if(NOT command)
  message(FATAL_ERROR "usage: cmake -P ZRRunQuiet.cmake -- COMMAND [ARG...]")
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${output}")
endif()
