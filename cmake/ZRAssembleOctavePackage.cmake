# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -DMANIFEST=... -DSOURCE_DIR=... -DOUTPUT_DIR=... -P ZRAssembleOctavePackage.cmake
# Lays out zrbridge-X.Y.Z/ in OUTPUT_DIR as `pkg install` expects it and
# packs it into zrbridge-X.Y.Z.tar.gz:
#   DESCRIPTION COPYING INDEX NEWS   package information
#   inst/                            the m-files (inst/private/: the
#                                    private ones)
#   src/                             Makefile, FILES, sources.mk and the
#                                    sources, headers and service definitions
#                                    that the manifest names
# Two runs on the same sources give the same bytes: entries sorted, owners
# root, every time stamp (and the Date) the source time below, no name or
# time in the gzip header.
include(${MANIFEST})
set(name zrbridge-${ZR_VERSION})
set(stage ${OUTPUT_DIR}/octave-package/${name})
set(packaging ${SOURCE_DIR}/packaging/octave)

file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)

# The source time: SOURCE_DATE_EPOCH when set, else the time of the checked
# out commit, else (an unpacked source archive) the newest file's time.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch MATCHES "^[0-9]+$")
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 0)
    file(GLOB_RECURSE inputs ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/cmake/* ${SOURCE_DIR}/core/*
      ${SOURCE_DIR}/gateways/* ${SOURCE_DIR}/matlab/* ${SOURCE_DIR}/packaging/* ${SOURCE_DIR}/tools/*)
    foreach(input IN LISTS inputs)
      file(TIMESTAMP ${input} time "%s" UTC)
      if(time GREATER epoch)
        set(epoch ${time})
      endif()
    endforeach()
  endif()
endif()
set(ENV{SOURCE_DATE_EPOCH} ${epoch})  # string(TIMESTAMP) honours it
set(ZR_DATE)
string(TIMESTAMP ZR_DATE "%Y-%m-%d" UTC)
configure_file(${packaging}/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
file(COPY ${SOURCE_DIR}/COPYING ${packaging}/NEWS DESTINATION ${stage})

set(index "zrbridge >> Calls to modules of a remote module broker\nModule proxies\n")
set(mfiles)
foreach(file IN LISTS ZR_MFILES)
  get_filename_component(function ${file} NAME_WE)
  if(function STREQUAL "Contents")
    # The package folder is named zrbridge-X.Y.Z, so `help zrbridge` finds
    # the overview only under that name.
    configure_file(${file} ${stage}/inst/zrbridge.m COPYONLY)
    continue()
  endif()
  list(APPEND mfiles ${file})
  string(APPEND index " ${function}\n")
endforeach()
string(APPEND index "MEX modules\n connector\n invoker\n")
file(WRITE ${stage}/INDEX "${index}")

file(COPY ${mfiles} DESTINATION ${stage}/inst)
if(ZR_PRIVATE_MFILES)
  file(COPY ${ZR_PRIVATE_MFILES} DESTINATION ${stage}/inst/private)
endif()

file(COPY ${packaging}/Makefile ${packaging}/FILES ${SOURCE_DIR}/cmake/zrcore.map ${ZR_MEX_HELP_FILES}
  DESTINATION ${stage}/src)

# Sources keep their place in the tree; so do the headers of every include
# folder and the service definitions.
set(files ${ZR_CORE_SOURCES} ${ZR_ZRGATEWAY_COMMON_SOURCES} ${ZR_CONNECTOR_SOURCES} ${ZR_INVOKER_SOURCES}
  ${ZR_DEMOBROKER_SOURCES} ${ZR_SOAP_BROKER_DEFINITION} ${ZR_SOAP_ENVELOPE_DEFINITION})
# The demo broker's own headers sit beside its sources.
foreach(source IN LISTS ZR_DEMOBROKER_SOURCES)
  get_filename_component(dir ${source} DIRECTORY)
  list(APPEND ZR_INCLUDE_DIRS ${dir})
endforeach()
list(REMOVE_DUPLICATES ZR_INCLUDE_DIRS)
foreach(dir IN LISTS ZR_INCLUDE_DIRS)
  # Recursive: headers may be included as <folder/name.h>.
  file(GLOB_RECURSE headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${dir}/*.h)
  list(APPEND files ${headers})
endforeach()
# A source may include a header that sits beside it by name.
foreach(source IN LISTS ZR_CORE_SOURCES ZR_ZRGATEWAY_COMMON_SOURCES ZR_CONNECTOR_SOURCES ZR_INVOKER_SOURCES)
  get_filename_component(dir ${source} DIRECTORY)
  file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${dir}/*.h)
  list(APPEND files ${headers})
endforeach()
list(REMOVE_DUPLICATES files)
foreach(file IN LISTS files)
  get_filename_component(dir ${file} DIRECTORY)
  file(COPY ${SOURCE_DIR}/${file} DESTINATION ${stage}/src/${dir})
endforeach()

list(JOIN ZR_CORE_SOURCES " " core_sources)
list(JOIN ZR_GENERATED_SOURCES " " generated_sources)
list(JOIN ZR_ZRGATEWAY_COMMON_SOURCES " " gateway_sources)
list(JOIN ZR_CONNECTOR_SOURCES " " connector_sources)
list(JOIN ZR_INVOKER_SOURCES " " invoker_sources)
list(JOIN ZR_DEMOBROKER_SOURCES " " demobroker_sources)
list(JOIN ZR_INCLUDE_DIRS " " include_dirs)
list(JOIN ZR_DEFINITIONS " " definitions)
list(JOIN ZR_OPTIONS " " options)
list(JOIN ZR_MEX_DEFINITIONS " " mex_definitions)
list(JOIN ZR_MEX_OPTIONS " " mex_options)
file(WRITE ${stage}/src/sources.mk
  "# Written when the package was assembled, from the CMake build's targets.\n"
  "CORE_SOURCES := ${core_sources}\n"
  "GENERATED_SOURCES := ${generated_sources}\n"
  "GATEWAY_SOURCES := ${gateway_sources}\n"
  "CONNECTOR_SOURCES := ${connector_sources}\n"
  "INVOKER_SOURCES := ${invoker_sources}\n"
  "DEMOBROKER_SOURCES := ${demobroker_sources}\n"
  "INCLUDE_DIRS := ${include_dirs}\n"
  "DEFINITIONS := ${definitions}\n"
  "OPTIONS := ${options}\n"
  "MEX_DEFINITIONS := ${mex_definitions}\n"
  "MEX_OPTIONS := ${mex_options}\n"
  "SOAP_BROKER_DEFINITION := ${ZR_SOAP_BROKER_DEFINITION}\n"
  "SOAP_ENVELOPE_DEFINITION := ${ZR_SOAP_ENVELOPE_DEFINITION}\n"
  "${ZR_SOURCE_FLAGS}")

find_program(GNU_TAR NAMES tar REQUIRED)
find_program(GZIP NAMES gzip REQUIRED)
execute_process(
  COMMAND ${GNU_TAR} --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
    --mtime=@${epoch} --mode=u+rw,go=rX ${name}
  COMMAND ${GZIP} -9 --no-name
  WORKING_DIRECTORY ${OUTPUT_DIR}/octave-package
  OUTPUT_FILE ${OUTPUT_DIR}/${name}.tar.gz
  COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Octave package: ${OUTPUT_DIR}/${name}.tar.gz")
