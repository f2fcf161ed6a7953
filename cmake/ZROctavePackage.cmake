# The Octave package: `cmake --build <build> --target octave-package` writes
# <build>/zrbridge-X.Y.Z.tar.gz for `pkg install`. Its src/ builds
# libzrcore and the MEX modules with make from the very sources, include
# folders and per-source options that this build uses: they are read here
# from the targets, so the package follows every change to the CMake lists.
set(ZR_PACKAGE_MANIFEST ${PROJECT_BINARY_DIR}/octave-package/manifest.cmake)

# Paths of the source tree become relative to it; those of the build tree
# (generated code) relative to the target's build folder; the rest (system
# headers) is left to the package's own flags.
function(zr_package_relative out target)
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(binary_dir ${target} BINARY_DIR)
  set(result)
  foreach(path IN LISTS ARGN)
    get_filename_component(path ${path} ABSOLUTE BASE_DIR ${source_dir})
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${path} NORMALIZE in_source)
    cmake_path(IS_PREFIX binary_dir ${path} NORMALIZE in_binary)
    if(in_binary)
      file(RELATIVE_PATH path ${binary_dir} ${path})
      list(APPEND result ${path})
    elseif(in_source)
      file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${path})
      list(APPEND result ${path})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

set(zr_manifest "")
macro(zr_manifest_set name)
  string(APPEND zr_manifest "set(${name} \"${ARGN}\")\n")
endmacro()

# The core: every object library that libzrcore is made of.
get_target_property(zr_core_links zrcore_shared LINK_LIBRARIES)
set(zr_core_sources)
set(zr_generated_sources)
set(zr_include_dirs)
set(zr_definitions)
set(zr_source_flags "")
foreach(part IN LISTS zr_core_links)
  if(NOT TARGET ${part})
    continue()
  endif()
  get_target_property(type ${part} TYPE)
  if(NOT type STREQUAL "OBJECT_LIBRARY")
    continue()
  endif()
  get_target_property(sources ${part} SOURCES)
  get_target_property(source_dir ${part} SOURCE_DIR)
  get_target_property(binary_dir ${part} BINARY_DIR)
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    get_filename_component(absolute ${source} ABSOLUTE BASE_DIR ${source_dir})
    zr_package_relative(relative ${part} ${absolute})
    cmake_path(IS_PREFIX binary_dir ${absolute} NORMALIZE generated)
    if(generated)
      list(APPEND zr_generated_sources ${relative})
    else()
      list(APPEND zr_core_sources ${relative})
    endif()
    get_source_file_property(options ${absolute} TARGET_DIRECTORY ${part} COMPILE_OPTIONS)
    if(options)
      string(REPLACE "${PROJECT_SOURCE_DIR}/" "" options "${options}")
      string(REPLACE ";" " " options "${options}")
      string(REGEX REPLACE "\\.cpp$" ".o" object ${relative})
      string(APPEND zr_source_flags "obj/${object}: SOURCE_FLAGS = ${options}\n")
    endif()
  endforeach()
  get_target_property(includes ${part} INCLUDE_DIRECTORIES)
  zr_package_relative(includes ${part} ${includes})
  list(APPEND zr_include_dirs ${includes})
  get_target_property(definitions ${part} COMPILE_DEFINITIONS)
  if(definitions)
    list(APPEND zr_definitions ${definitions})
  endif()
endforeach()

# The gateways, as the Octave build compiles them.
foreach(module connector invoker)
  get_target_property(sources ${module} SOURCES)
  zr_package_relative(sources ${module} ${sources})
  string(TOUPPER ${module} upper)
  zr_manifest_set(ZR_${upper}_SOURCES ${sources})
  get_target_property(includes ${module} INCLUDE_DIRECTORIES)
  zr_package_relative(includes ${module} ${includes})
  list(APPEND zr_include_dirs ${includes})
endforeach()
list(REMOVE_DUPLICATES zr_include_dirs)

# The service definitions that soapcpp2 reads.
foreach(definition BROKER ENVELOPE)
  get_directory_property(path DIRECTORY ${PROJECT_SOURCE_DIR}/core/lib/zrsoap
    DEFINITION ZRSOAP_${definition}_DEFINITION)
  file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${path})
  zr_manifest_set(ZR_SOAP_${definition}_DEFINITION ${path})
endforeach()

zr_manifest_set(ZR_CORE_SOURCES ${zr_core_sources})
zr_manifest_set(ZR_GENERATED_SOURCES ${zr_generated_sources})
zr_manifest_set(ZR_INCLUDE_DIRS ${zr_include_dirs})
zr_manifest_set(ZR_DEFINITIONS ${zr_definitions})
zr_manifest_set(ZR_SOURCE_FLAGS "${zr_source_flags}")
zr_manifest_set(ZR_MFILES ${ZR_MFILES})
zr_manifest_set(ZR_MEX_HELP_FILES ${ZR_MEX_HELP_FILES})
zr_manifest_set(ZR_VERSION ${PROJECT_VERSION})
file(GENERATE OUTPUT ${ZR_PACKAGE_MANIFEST} CONTENT "${zr_manifest}")

set(ZR_OCTAVE_PACKAGE ${PROJECT_BINARY_DIR}/zrbridge-${PROJECT_VERSION}.tar.gz)
add_custom_target(octave-package
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${ZR_PACKAGE_MANIFEST} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DOUTPUT_DIR=${PROJECT_BINARY_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/ZRAssembleOctavePackage.cmake
  BYPRODUCTS ${ZR_OCTAVE_PACKAGE}
  COMMENT "Assembling the Octave package zrbridge-${PROJECT_VERSION}.tar.gz"
  VERBATIM)
