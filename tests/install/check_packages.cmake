# Makes the Debian packages and looks at them as a Debian user would: the
# three packages unpack into a scratch root (dpkg -x), a program builds
# against the -dev contents with pkg-config and runs, every installed tool
# loads the project's libraries by versioned soname only, and lintian finds
# no error.
#
#   cmake -DBUILD_DIR=<build tree> -DWORK=<scratch folder> -DCONSUMER=<consumer source folder>
#         -DC_COMPILER=<cc> -P check_packages.cmake

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)
require_variables(BUILD_DIR WORK CONSUMER C_COMPILER)

unset(ENV{LD_LIBRARY_PATH})
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/root")
run("cpack" COMMAND cpack -G DEB -B "${WORK}" WORKING_DIRECTORY "${BUILD_DIR}")
file(GLOB debs "${WORK}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "check_packages: expected three packages, got: ${debs}")
endif()
foreach(deb ${debs})
  run("dpkg -x ${deb}" COMMAND dpkg-deb -x "${deb}" "${WORK}/root")
  run("dpkg -I ${deb}" COMMAND dpkg-deb -f "${deb}" Package Depends Maintainer)
  message(STATUS "${OUT}")
endforeach()

# A program against the -dev contents, through pkg-config.
file(GLOB_RECURSE pcs "${WORK}/root/*/quilcoreapi.pc")
list(GET pcs 0 pc)
get_filename_component(pcdir "${pc}" DIRECTORY)
set(ENV{PKG_CONFIG_LIBDIR} "${pcdir}")
unset(ENV{PKG_CONFIG_PATH})
run("pkg-config --cflags --libs" COMMAND pkg-config --cflags --libs quilcoreapi)
separate_arguments(flags UNIX_COMMAND "${OUT}")
run("pkg-config --variable=libdir" COMMAND pkg-config --variable=libdir quilcoreapi)
set(libdir "${OUT}")
run("building against the -dev package" COMMAND "${C_COMPILER}" "${CONSUMER}/consumer.c" ${flags}
  "-Wl,-rpath,${libdir}" -o "${WORK}/consumer")
run("running it" COMMAND "${WORK}/consumer")

# The tools load the project's libraries by versioned soname only.
file(GLOB tools "${WORK}/root/usr/bin/*")
foreach(tool ${tools})
  run("ldd ${tool}" COMMAND ldd "${tool}")
  string(REGEX MATCHALL "libquil[a-z]*\\.so[^ \t\n]*" sonames "${OUT}")
  foreach(so ${sonames})
    if(NOT so MATCHES "\\.so\\.[0-9]+$")
      message(FATAL_ERROR "check_packages: ${tool} loads ${so}, which has no version")
    endif()
  endforeach()
endforeach()

find_program(LINTIAN lintian)
if(LINTIAN)
  foreach(deb ${debs})
    execute_process(COMMAND ${LINTIAN} --no-tag-display-limit "${deb}" OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message(STATUS "lintian ${deb}:\n${out}")
    if(out MATCHES "(^|\n)E: ")
      message(FATAL_ERROR "check_packages: lintian reports errors for ${deb}")
    endif()
  endforeach()
endif()
message(STATUS "check_packages: three packages made, unpacked, built against and run")
