# What `cmake --install` and `cpack` ship: the core library with its public
# header, the platform library it shares with the sibling libraries, the disc
# emulator standing in for those siblings, the tools, a CMake package
# (find_package(quilcoreapi CONFIG) -> quil::quilcoreapi) and a pkg-config
# file. Included last from the top-level CMakeLists.txt, once every target
# exists.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUIL_INSTALLED_LIBRARIES quilcoreapi quilplatform quilemulator quilreader quilwriter)
set(QUIL_INSTALLED_TOOLS quil-mkdisc)
foreach(tool quil quil-utility-listen)
  if(TARGET ${tool})
    list(APPEND QUIL_INSTALLED_TOOLS ${tool})
  endif()
endforeach()

# The core loads the reader, the writer, the emulator and the platform
# library by soname: each installed library looks beside itself and each tool
# one folder over, so an unpacked tree works wherever it lands, without
# LD_LIBRARY_PATH or ldconfig.
file(RELATIVE_PATH QUIL_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(${QUIL_INSTALLED_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(${QUIL_INSTALLED_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${QUIL_BIN_TO_LIB}")

install(TARGETS ${QUIL_INSTALLED_LIBRARIES} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${QUIL_INSTALLED_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Only the application's interface: the sibling and emulator-control headers
# are the project's own seams, not something an application builds against.
install(FILES ${PROJECT_SOURCE_DIR}/include/quil/quilcoreapi.h ${PROJECT_SOURCE_DIR}/include/quil/platform_error.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quil)
install(FILES ${PROJECT_SOURCE_DIR}/examples/record_and_read.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The CMake package. The imported targets are written here rather than
# exported from the build targets: those carry the source tree's include
# folder and the internal static pieces, none of which an application sees.
# The file names and sonames come from the targets themselves.
set(QUIL_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quilcoreapi)
set(QUIL_PACKAGE_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(QUIL_PACKAGE_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quilcoreapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/quilcoreapiConfig.cmake.gen
  INSTALL_DESTINATION ${QUIL_CMAKE_PACKAGE_DIR}
  PATH_VARS QUIL_PACKAGE_LIBDIR QUIL_PACKAGE_INCLUDEDIR)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/package/quilcoreapiConfig.cmake
  INPUT ${PROJECT_BINARY_DIR}/package/quilcoreapiConfig.cmake.gen)
# Same major version as the soname: 0.x releases keep the ABI of soname 0.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/quilcoreapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/quilcoreapiConfig.cmake
  ${PROJECT_BINARY_DIR}/package/quilcoreapiConfigVersion.cmake
  DESTINATION ${QUIL_CMAKE_PACKAGE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the
# same file serves /usr, /usr/local and `cmake --install --prefix DIR`.
file(RELATIVE_PATH QUIL_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QUIL_PC_TO_PREFIX "${QUIL_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/quilcoreapi.pc.in ${PROJECT_BINARY_DIR}/package/quilcoreapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/quilcoreapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# `cpack -G DEB`: one package with the libraries, the tools and the
# development files. dpkg-shlibdeps reads the dependencies off the installed
# objects (log4cxx, Boost, pugixml, the C++ runtime), so they cannot drift
# from what the libraries really load.
set(QUIL_PACKAGE_CONTACT "Merrow Corporation TALVO Drive software" CACHE STRING
  "Maintainer written into the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libquilcoreapi)
set(CPACK_PACKAGE_VENDOR "Merrow Corporation")
set(CPACK_PACKAGE_CONTACT "${QUIL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debug information stays in the build tree; the package carries the code.
set(CPACK_STRIP_FILES ON)
include(CPack)
