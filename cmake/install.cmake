# Installation: the shared library with its SONAME (libcardfs.so.0 for
# version 0.x), the card-programmer and KERNEL32 stand-ins it links, the
# public headers, a CMake package (find_package(cardfs) gives
# cardfs::cardfs) and the pkg-config file cardfs.pc. The static library
# (cardfs::cardfs_static, libcardfs.a) only with CARDFS_INSTALL_STATIC.
# Programs and libraries find the libraries beside them through their
# RPATH ($ORIGIN/../lib), so a prefix works wherever it is put.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(CARDFS_INSTALL_STATIC "Install the static library libcardfs.a too" OFF)

set(CARDFS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/cardfs)
set(CARDFS_INSTALLED_TARGETS cardfs kvwin32)
if(TARGET kernel32_standin)
  list(APPEND CARDFS_INSTALLED_TARGETS kernel32_standin)
endif()
foreach(target IN LISTS CARDFS_INSTALLED_TARGETS)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
endforeach()
if(CARDFS_INSTALL_STATIC)
  list(APPEND CARDFS_INSTALLED_TARGETS cardfs_static)
endif()

install(TARGETS ${CARDFS_INSTALLED_TARGETS} EXPORT cardfsTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
file(GLOB CARDFS_PUBLIC_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/include/cardfs*.h)
install(FILES ${CARDFS_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT cardfsTargets NAMESPACE cardfs:: DESTINATION ${CARDFS_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/cardfsConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/cardfsConfig.cmake INSTALL_DESTINATION ${CARDFS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/cardfsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cardfsConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/cardfsConfigVersion.cmake
  DESTINATION ${CARDFS_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from the .pc file's own place, so the same
# file serves a prefix anywhere and the Debian package in /usr.
list(TRANSFORM CARDFS_INSTALLED_TARGETS PREPEND "-l" OUTPUT_VARIABLE CARDFS_PC_LIBS)
list(REMOVE_ITEM CARDFS_PC_LIBS -lcardfs_static)
list(JOIN CARDFS_PC_LIBS " " CARDFS_PC_LIBS)
file(RELATIVE_PATH CARDFS_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" CARDFS_PC_TO_PREFIX "${CARDFS_PC_TO_PREFIX}")
configure_file(cmake/cardfs.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cardfs.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cardfs.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
