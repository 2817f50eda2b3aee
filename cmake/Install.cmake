include(CMakePackageConfigHelpers)

# Public headers: src/quelvan -> include/quelvan, src/platform -> include/quelvan/platform.
install(DIRECTORY src/quelvan/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quelvan
  FILES_MATCHING PATTERN "*.h" PATTERN "detail" EXCLUDE)
install(DIRECTORY src/platform/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quelvan/platform
  FILES_MATCHING PATTERN "*.h" PATTERN "detail" EXCLUDE)

set(QUELVAN_INSTALL_TARGETS quelvan60r)
if(TARGET quelvan60qt)
  list(APPEND QUELVAN_INSTALL_TARGETS quelvan60qt)
endif()
install(TARGETS ${QUELVAN_INSTALL_TARGETS} EXPORT QuelvanTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT QuelvanTargets NAMESPACE Quelvan:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quelvan)

configure_package_config_file(cmake/QuelvanConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuelvanConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quelvan)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuelvanConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuelvanConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QuelvanConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quelvan)

configure_file(cmake/quelvan.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quelvan.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quelvan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
