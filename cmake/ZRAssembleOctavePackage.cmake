# cmake -DMANIFEST=... -DSOURCE_DIR=... -DOUTPUT_DIR=... -P ZRAssembleOctavePackage.cmake
# Lays out zrbridge-X.Y.Z/ in OUTPUT_DIR as `pkg install` expects it and
# packs it into zrbridge-X.Y.Z.tar.gz:
#   DESCRIPTION COPYING INDEX NEWS   package information
#   inst/                            the m-files (inst/private/: the
#                                    private ones)
#   src/                             Makefile, FILES, sources.mk and the
#                                    sources, headers and service definitions
#                                    that the manifest names
include(${MANIFEST})
set(name zrbridge-${ZR_VERSION})
set(stage ${OUTPUT_DIR}/octave-package/${name})
set(packaging ${SOURCE_DIR}/packaging/octave)

file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)

# Honours SOURCE_DATE_EPOCH, for a reproducible package.
set(ZR_DATE)
string(TIMESTAMP ZR_DATE "%Y-%m-%d" UTC)
configure_file(${packaging}/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
file(COPY ${packaging}/COPYING ${packaging}/NEWS DESTINATION ${stage})

set(index "zrbridge >> Calls to modules of a remote module broker\nModule proxies\n")
foreach(file IN LISTS ZR_MFILES)
  get_filename_component(function ${file} NAME_WE)
  string(APPEND index " ${function}\n")
endforeach()
string(APPEND index "MEX modules\n connector\n invoker\n")
file(WRITE ${stage}/INDEX "${index}")

file(COPY ${ZR_MFILES} DESTINATION ${stage}/inst)
if(ZR_PRIVATE_MFILES)
  file(COPY ${ZR_PRIVATE_MFILES} DESTINATION ${stage}/inst/private)
endif()

file(COPY ${packaging}/Makefile ${packaging}/FILES ${SOURCE_DIR}/cmake/zrcore.map ${ZR_MEX_HELP_FILES}
  DESTINATION ${stage}/src)

# Sources keep their place in the tree; so do the headers of every include
# folder and the service definitions.
set(files ${ZR_CORE_SOURCES} ${ZR_ZRGATEWAY_COMMON_SOURCES} ${ZR_CONNECTOR_SOURCES} ${ZR_INVOKER_SOURCES}
  ${ZR_SOAP_BROKER_DEFINITION} ${ZR_SOAP_ENVELOPE_DEFINITION})
foreach(dir IN LISTS ZR_INCLUDE_DIRS)
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
  "INCLUDE_DIRS := ${include_dirs}\n"
  "DEFINITIONS := ${definitions}\n"
  "OPTIONS := ${options}\n"
  "MEX_DEFINITIONS := ${mex_definitions}\n"
  "MEX_OPTIONS := ${mex_options}\n"
  "SOAP_BROKER_DEFINITION := ${ZR_SOAP_BROKER_DEFINITION}\n"
  "SOAP_ENVELOPE_DEFINITION := ${ZR_SOAP_ENVELOPE_DEFINITION}\n"
  "${ZR_SOURCE_FLAGS}")

execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT_DIR}/${name}.tar.gz ${name}
  WORKING_DIRECTORY ${OUTPUT_DIR}/octave-package
  COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Octave package: ${OUTPUT_DIR}/${name}.tar.gz")
