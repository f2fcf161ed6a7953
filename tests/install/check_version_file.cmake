# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -DVERSION_FILE=.../zrbridgeConfigVersion.cmake -P check_version_file.cmake
# While the major version is 0 a new minor version may change the API, so
# find_package(zrbridge X.Y) must accept X.Y.* only: an older minor
# version asked for is refused as well as a newer one.
include(${VERSION_FILE})
set(installed ${PACKAGE_VERSION})
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" _ ${installed})
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
math(EXPR next_minor "${minor} + 1")
math(EXPR next_major "${major} + 1")
set(cases "${major}.${minor}=TRUE" "${major}.${minor}.0=TRUE" "${major}.${next_minor}=FALSE" "${next_major}.0=FALSE")
if(minor GREATER 0)
  math(EXPR previous_minor "${minor} - 1")
  list(APPEND cases "${major}.${previous_minor}=FALSE")
endif()
foreach(case IN LISTS cases)
  string(REPLACE "=" ";" case ${case})
  list(GET case 0 wanted)
  list(GET case 1 expected)
  set(PACKAGE_FIND_VERSION ${wanted})
  string(REPLACE "." ";" parts "${wanted}.0.0")
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
  list(GET parts 2 PACKAGE_FIND_VERSION_PATCH)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
  include(${VERSION_FILE})
  if(NOT "${PACKAGE_VERSION_COMPATIBLE}" STREQUAL "${expected}")
    message(FATAL_ERROR "zrbridge ${installed} asked for as ${wanted}: compatible is "
      "'${PACKAGE_VERSION_COMPATIBLE}', expected ${expected}")
  endif()
endforeach()
message(STATUS "zrbridge ${installed}: compatible with ${major}.${minor} only")
