# SPDX-License-Identifier: GPL-2.0-or-later
# What `cmake --install` puts under the prefix:
#   lib/libzrcore.so*, include/zrbridge/   the C++ library and its API
#   lib/cmake/zrbridge/                     find_package(zrbridge) -> zrbridge::zrcore
#   bin/zrdemobroker                        the demo broker
#   share/zrbridge/octave/                  connector.mex, invoker.mex, their help
#                                           files and the m-files, in one folder
#                                           (private/: the class's own helpers;
#                                           Contents.m also as zrbridge.m)
#   share/zrbridge/matlab/                  the m-files; private/ holds connector,
#                                           invoker, their help files, the private
#                                           m-files and a copy of
#                                           libzrcore, so that only the m-files
#                                           beside it see the two modules and
#                                           MATLAB's own `connector` stays visible
include(CMakePackageConfigHelpers)

set(ZR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zrbridge)
set(ZR_INSTALL_OCTAVEDIR ${CMAKE_INSTALL_DATADIR}/zrbridge/octave)
set(ZR_INSTALL_MATLABDIR ${CMAKE_INSTALL_DATADIR}/zrbridge/matlab)

install(TARGETS zrcore_shared EXPORT zrbridgeTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${ZR_INSTALL_INCLUDEDIR})
install(EXPORT zrbridgeTargets NAMESPACE zrbridge:: DESTINATION ${ZR_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zrbridgeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zrbridgeConfig.cmake
  INSTALL_DESTINATION ${ZR_INSTALL_CMAKEDIR})
# 0.x: a new minor version may change the API.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zrbridgeConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zrbridgeConfig.cmake ${PROJECT_BINARY_DIR}/zrbridgeConfigVersion.cmake
  DESTINATION ${ZR_INSTALL_CMAKEDIR})

if(TARGET zrdemobroker)
  install(TARGETS zrdemobroker RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(ZR_BUILD_OCTAVE AND TARGET connector)
  file(RELATIVE_PATH zr_libdir_from_octave /${ZR_INSTALL_OCTAVEDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(connector invoker PROPERTIES INSTALL_RPATH "$ORIGIN/${zr_libdir_from_octave}")
  install(TARGETS connector invoker LIBRARY DESTINATION ${ZR_INSTALL_OCTAVEDIR})
  install(FILES ${ZR_MFILES} ${ZR_MEX_HELP_FILES} DESTINATION ${ZR_INSTALL_OCTAVEDIR})
  install(FILES ${ZR_PRIVATE_MFILES} DESTINATION ${ZR_INSTALL_OCTAVEDIR}/private)
  # `help zrbridge` finds the overview under the package's name.
  install(FILES ${PROJECT_SOURCE_DIR}/matlab/Contents.m DESTINATION ${ZR_INSTALL_OCTAVEDIR} RENAME zrbridge.m)
endif()

if(ZR_MATLAB_TARGETS)
  set_target_properties(connector_matlab invoker_matlab PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS connector_matlab invoker_matlab LIBRARY DESTINATION ${ZR_INSTALL_MATLABDIR}/private)
  install(TARGETS zrcore_shared LIBRARY DESTINATION ${ZR_INSTALL_MATLABDIR}/private NAMELINK_SKIP)
  install(FILES ${ZR_MEX_HELP_FILES} ${ZR_PRIVATE_MFILES} DESTINATION ${ZR_INSTALL_MATLABDIR}/private)
  install(FILES ${ZR_MFILES} DESTINATION ${ZR_INSTALL_MATLABDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/matlab/Contents.m DESTINATION ${ZR_INSTALL_MATLABDIR} RENAME zrbridge.m)
endif()
