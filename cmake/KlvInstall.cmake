# Installation: the shared library, the public headers, a pkg-config file and
# a CMake package so that other programs can use find_package(klv).
include(CMakePackageConfigHelpers)

install(TARGETS klv EXPORT klvTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/klv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/klv OPTIONAL)
install(EXPORT klvTargets NAMESPACE klv:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/klv)

configure_package_config_file(cmake/klvConfig.cmake.in
  ${PROJECT_BINARY_DIR}/klvConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/klv)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/klvConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/klvConfig.cmake ${PROJECT_BINARY_DIR}/klvConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/klv)

configure_file(cmake/klv.pc.in ${PROJECT_BINARY_DIR}/klv.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/klv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
