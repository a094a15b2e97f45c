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

# Every shared library carries a versioned soname, so that programs depend
# on libX.so.0 and the bare .so belongs to the -dev package.
set_target_properties(quilplatform quilemulator quilreader quilwriter PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

# Three Debian packages: the runtime (the libraries), the -dev package (the
# headers a program is told to use, the bare .so links, the CMake package,
# the pkg-config file, the guide) and the tools (quil, quilfs, quil-mkdisc,
# quil-utility-listen, their man pages, the completion, the Python package).
install(TARGETS ${QUIL_INSTALLED_LIBRARIES}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(TARGETS ${QUIL_INSTALLED_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# The application's interface, and the emulator's control header that the
# README tells test programs to use with libquilemulator.
install(FILES ${PROJECT_SOURCE_DIR}/include/quil/quilcoreapi.h ${PROJECT_SOURCE_DIR}/include/quil/platform_error.h
  ${PROJECT_SOURCE_DIR}/include/quil/emulator_control.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quil COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/examples/record_and_read.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/API.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)

# The Python package where Debian's python3 looks (with the /usr prefix);
# from another prefix, PYTHONPATH names <prefix>/lib/python3/dist-packages.
if(EXISTS ${PROJECT_SOURCE_DIR}/python/quil)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/quil DESTINATION lib/python3/dist-packages COMPONENT tools
    PATTERN "__pycache__" EXCLUDE)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/PYTHON.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools OPTIONAL)

# Man pages from each tool's --help, made at build time where help2man is.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(QUIL_MAN_TOOLS ${QUIL_INSTALLED_TOOLS})
  if(TARGET quilfs)
    list(APPEND QUIL_MAN_TOOLS quilfs)
  endif()
  set(QUIL_MAN_PAGES)
  set(QUIL_MAN_NAME_quil "inspect and change a disc through libquilcoreapi")
  set(QUIL_MAN_NAME_quilfs "mount the volume of a disc as a file system")
  set(QUIL_MAN_NAME_quil-mkdisc "make a fresh, empty emulated disc in a folder")
  set(QUIL_MAN_NAME_quil-utility-listen "serve the desktop utility's close-error pipe")
  foreach(tool ${QUIL_MAN_TOOLS})
    set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              "--name=${QUIL_MAN_NAME_${tool}}" --output=${page} $<TARGET_FILE:${tool}>
      COMMAND gzip -n -9 -f ${page}
      DEPENDS ${tool} VERBATIM)
    list(APPEND QUIL_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${QUIL_MAN_PAGES})
  install(FILES ${QUIL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
else()
  message(STATUS "help2man not found: no man pages (scripts/install-deps.sh installs it)")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/tools/quil/quil.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quil COMPONENT tools)

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
  DESTINATION ${QUIL_CMAKE_PACKAGE_DIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place, so the
# same file serves /usr, /usr/local and `cmake --install --prefix DIR`.
file(RELATIVE_PATH QUIL_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QUIL_PC_TO_PREFIX "${QUIL_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/quilcoreapi.pc.in ${PROJECT_BINARY_DIR}/package/quilcoreapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/quilcoreapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# `cpack -G DEB`: three packages, one per component, depending on each
# other; dpkg-shlibdeps reads the rest of the dependencies off the installed
# objects (log4cxx, Boost, pugixml, libfuse, the C++ runtime).
# The maintainer defaults to the project's committers as the repository
# names them (the author of the last commit), so a package says who made it.
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 "--format=%an <%ae>"
  OUTPUT_VARIABLE QUIL_LAST_AUTHOR OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT QUIL_LAST_AUTHOR MATCHES ".+ <.+@.+>")
  set(QUIL_LAST_AUTHOR "libquilcoreapi developers <root@localhost>")
endif()
set(QUIL_PACKAGE_MAINTAINER "${QUIL_LAST_AUTHOR}" CACHE STRING
  "The Maintainer field of the Debian packages: name <address>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_PACKAGE_NAME libquilcoreapi)
set(CPACK_PACKAGE_VENDOR "libquilcoreapi developers")
set(CPACK_PACKAGE_CONTACT "${QUIL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUIL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquilcoreapi${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for programs built against the runtime, and the ldconfig
# trigger that goes with shared libraries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "handle-based file API onto a video-recording optical disc volume
 The core library with its platform library and the disc emulator that stands
 in for the sibling reader and writer libraries and the disc driver.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquilcoreapi-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "development files for libquilcoreapi
 The public headers, the CMake package, the pkg-config file, the guide for
 application developers and a complete example program.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quil-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "python3")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "tools for discs through libquilcoreapi
 quil (inspect and change a disc), quilfs (a disc volume as a FUSE file
 system), quil-mkdisc (make an emulated disc), quil-utility-listen (the
 desktop utility's end of the close-error pipe) and the Python package quil.")
# dpkg-shlibdeps reads each package's programs in that package's staging
# folder: the tools find the project's own libraries in the runtime's.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime/usr/${CMAKE_INSTALL_LIBDIR})
# What Debian asks of every package's documentation folder: the copyright
# file and, for a native package, a compressed changelog.
set(QUIL_DEB_DOC ${PROJECT_BINARY_DIR}/package/debian-doc)
file(MAKE_DIRECTORY ${QUIL_DEB_DOC})
file(WRITE ${QUIL_DEB_DOC}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: libquilcoreapi\n\n"
  "Files: *\nCopyright: 2026 the libquilcoreapi developers\nLicense: proprietary\n"
  " All rights reserved by the libquilcoreapi developers.\n")
file(WRITE ${QUIL_DEB_DOC}/changelog
  "libquilcoreapi (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Built from the source tree.\n\n"
  " -- ${QUIL_PACKAGE_MAINTAINER}  Mon, 07 Dec 2026 00:00:00 +0000\n")
execute_process(COMMAND gzip -n -9 -f -k ${QUIL_DEB_DOC}/changelog)
foreach(component runtime dev tools)
  string(TOUPPER ${component} upper)
  install(FILES ${QUIL_DEB_DOC}/copyright ${QUIL_DEB_DOC}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME} COMPONENT ${component})
endforeach()
file(WRITE ${QUIL_DEB_DOC}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${QUIL_DEB_DOC}/triggers)
# Debug information stays in the build tree; the packages carry the code.
set(CPACK_STRIP_FILES ON)
include(CPack)
