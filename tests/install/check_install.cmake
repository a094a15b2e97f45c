# Installs a build into a fresh prefix and builds two applications against
# it, one through find_package(quilcoreapi CONFIG), one through pkg-config;
# both must build, load the installed libraries and run. An installed tool
# must run from the tree as well.
#
#   cmake -DBUILD_DIR=<build tree> -DWORK=<scratch folder> -DCONSUMER=<consumer source folder>
#         -DVERSION=<project version> -DLIBDIR=<lib folder below the prefix> -DBINDIR=<bin folder>
#         -DGENERATOR=<generator> -DMAKE_PROGRAM=<build tool> -DC_COMPILER=<cc>
#         [-DC_FLAGS=...] [-DLINKER_FLAGS=...] -P check_install.cmake

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)
require_variables(BUILD_DIR WORK CONSUMER VERSION LIBDIR BINDIR GENERATOR MAKE_PROGRAM C_COMPILER)

# Whatever the caller's environment holds, the installed tree must stand on
# its own: its libraries are found through their run paths only.
unset(ENV{LD_LIBRARY_PATH})
set(prefix "${WORK}/prefix")
file(REMOVE_RECURSE "${WORK}")
run("installing" COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

run("the installed quil-mkdisc" COMMAND "${prefix}/${BINDIR}/quil-mkdisc" "${WORK}/disc")
if(NOT EXISTS "${WORK}/disc/.quil-medium")
  message(FATAL_ERROR "check_install: the installed quil-mkdisc made no disc")
endif()

# 1. find_package, searching only the new prefix: a copy installed elsewhere
#    on the machine must not stand in for this one.
run("configuring the find_package consumer" COMMAND "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${WORK}/cmake-consumer"
  -G "${GENERATOR}" "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}" "-DCMAKE_C_COMPILER=${C_COMPILER}"
  "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
  "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF
  -DCMAKE_FIND_USE_SYSTEM_ENVIRONMENT_PATH=OFF -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  "-DQUIL_EXPECTED_VERSION=${VERSION}")
run("building the find_package consumer" COMMAND "${CMAKE_COMMAND}" --build "${WORK}/cmake-consumer")
run("running the find_package consumer" COMMAND "${WORK}/cmake-consumer/consumer")

# 2. pkg-config, seeing only the new prefix's .pc files, with the compiler
#    line a Makefile would write.
set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/${LIBDIR}/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
run("pkg-config --modversion" COMMAND "${PKG_CONFIG}" --modversion quilcoreapi)
if(NOT OUT STREQUAL VERSION)
  message(FATAL_ERROR "check_install: quilcoreapi.pc says version ${OUT}, the project is ${VERSION}")
endif()
run("pkg-config --cflags" COMMAND "${PKG_CONFIG}" --cflags quilcoreapi)
separate_arguments(cflags UNIX_COMMAND "${OUT}")
run("pkg-config --libs" COMMAND "${PKG_CONFIG}" --libs quilcoreapi)
separate_arguments(libs UNIX_COMMAND "${OUT}")
run("pkg-config --variable=libdir" COMMAND "${PKG_CONFIG}" --variable=libdir quilcoreapi)
set(libdir "${OUT}")
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
run("building the pkg-config consumer" COMMAND "${C_COMPILER}" ${c_flags} ${cflags} "${CONSUMER}/consumer.c"
  -o "${WORK}/pkg-config-consumer" ${linker_flags} ${libs} "-Wl,-rpath,${libdir}")
run("running the pkg-config consumer" COMMAND "${WORK}/pkg-config-consumer")

# 3. The installed example, built with the line the docs give (the prefix is
#    outside the linker's path, hence the run path) and run on a fresh disc.
file(GLOB example "${prefix}/share/doc/*/examples/record_and_read.c")
if(NOT example)
  message(FATAL_ERROR "check_install: the example was not installed")
endif()
run("building the example as the docs do" COMMAND "${C_COMPILER}" ${c_flags} "${example}" ${cflags}
  -o "${WORK}/record_and_read" ${linker_flags} ${libs} "-Wl,-rpath,${libdir}")
get_filename_component(here "${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
run("running the example on a fresh disc" COMMAND "${CMAKE_COMMAND}" "-DEXAMPLE=${WORK}/record_and_read"
  "-DMKDISC=${prefix}/${BINDIR}/quil-mkdisc" "-DWORK=${WORK}/example" -P "${here}/../../examples/run_on_fresh_disc.cmake")

message(STATUS "check_install: installed into ${prefix}; both consumers and the example built and ran")
