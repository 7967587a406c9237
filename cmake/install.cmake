# What `cmake --install` puts in place for the daemon's modules: the library
# and the host stand-ins it links (versioned shared objects), the public
# headers under include/storage_catalog (included as in the source tree,
# "storaged/storage_catalog/storage_catalog_manager.h"), a CMake package
# (find_package(storage_catalog) gives storage_catalog::storage_catalog),
# scatctl and an example svc.conf.
include(CMakePackageConfigHelpers)

set(SCAT_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/storage_catalog)
set(SCAT_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/storage_catalog)

install(TARGETS storage_catalog platform_json platform_runtime platform_sql platform_queue
    platform_common platform_rpc platform_job platform_poolutil
  EXPORT storage_catalog_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${SCAT_INSTALL_INCLUDEDIR})

file(GLOB SCAT_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/storaged/storage_catalog/*.h)
list(FILTER SCAT_PUBLIC_HEADERS EXCLUDE REGEX "_internal\\.h$")
install(FILES ${SCAT_PUBLIC_HEADERS}
  DESTINATION ${SCAT_INSTALL_INCLUDEDIR}/storaged/storage_catalog)
# The platform headers the public ones include; the drivers' own stay out.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform ${PROJECT_SOURCE_DIR}/vrt
  DESTINATION ${SCAT_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h"
  PATTERN "sqlite_connection.h" EXCLUDE
  PATTERN "mariadb_connection.h" EXCLUDE)

install(EXPORT storage_catalog_targets
  NAMESPACE storage_catalog::
  FILE storage_catalog_targets.cmake
  DESTINATION ${SCAT_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/storage_catalog-config.cmake.in
  ${PROJECT_BINARY_DIR}/storage_catalog-config.cmake
  INSTALL_DESTINATION ${SCAT_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/storage_catalog-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/storage_catalog-config.cmake
  ${PROJECT_BINARY_DIR}/storage_catalog-config-version.cmake
  DESTINATION ${SCAT_INSTALL_CMAKEDIR})

install(TARGETS scatctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/svc.conf.example
  DESTINATION ${CMAKE_INSTALL_DATADIR}/storage_catalog)
