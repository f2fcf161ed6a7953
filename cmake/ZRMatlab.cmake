# SPDX-License-Identifier: GPL-2.0-or-later
# MATLAB, for the MATLAB MEX modules. Sets ZR_MATLAB_TARGETS when they are
# built: MATLAB was found and the build is optimised. MATLAB loads MEX files
# next to the libstdc++ it bundles, and unoptimised code calls libstdc++
# functions that optimised code inlines, some of them newer than that copy.
set(ZR_MATLAB_TARGETS OFF)
find_package(Matlab COMPONENTS MX_LIBRARY)
set(zr_matlab_hint "point CMake at it with -DMatlab_ROOT_DIR=<the MATLAB folder that holds bin/matlab>")
if(NOT Matlab_FOUND)
  if(ZR_MATLAB_ONLY)
    message(FATAL_ERROR "MATLAB was not found: ${zr_matlab_hint}")
  endif()
  message(STATUS "MATLAB was not found, so only the Octave MEX modules are built (${zr_matlab_hint})")
elseif(NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  set(zr_matlab_why "the MATLAB MEX modules are built in Release, RelWithDebInfo or MinSizeRel builds only: a ${CMAKE_BUILD_TYPE} build needs a newer libstdc++ than the one MATLAB loads them with")
  if(ZR_MATLAB_ONLY)
    message(FATAL_ERROR "${zr_matlab_why}")
  endif()
  message(STATUS "MATLAB found, but ${zr_matlab_why}")
else()
  set(ZR_MATLAB_TARGETS ON)
  message(STATUS "MATLAB ${Matlab_VERSION_STRING} at ${Matlab_ROOT_DIR}: building the MATLAB MEX modules")
endif()
