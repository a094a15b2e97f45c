# Runs the example against a fresh emulated disc reached as drive E:.
#
#   cmake -DEXAMPLE=<record_and_read> -DMKDISC=<quil-mkdisc> -DWORK=<scratch folder> -P run_on_fresh_disc.cmake
#
# WORK is emptied first and left behind afterwards for a look at the disc
# and at the log files.

foreach(var EXAMPLE MKDISC WORK)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "run_on_fresh_disc: -D${var}=... is required")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/drives" "${WORK}/log")

execute_process(COMMAND "${MKDISC}" "${WORK}/disc" --label EXAMPLE RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "run_on_fresh_disc: quil-mkdisc failed (${result})")
endif()
file(CREATE_LINK "${WORK}/disc" "${WORK}/drives/e:" SYMBOLIC)

# Logs go to the scratch folder, never to the machine's own log folder.
file(WRITE "${WORK}/registry.reg"
  "Windows Registry Editor Version 5.00\n\n"
  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
  "\"LogLevel\"=dword:00000002\n"
  "\"LogFolder\"=\"${WORK}/log\"\n")
set(ENV{QUIL_REGISTRY} "${WORK}/registry.reg")
set(ENV{QUIL_PROGRAM_FILES} "${WORK}/opt")
set(ENV{QUIL_DRIVES} "${WORK}/drives")

execute_process(COMMAND "${EXAMPLE}" E: RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "run_on_fresh_disc: record_and_read exited with ${result}")
endif()
# The program judged its own read-back; the clip must also be on this disc,
# not on whatever else a drive letter might have reached.
if(NOT EXISTS "${WORK}/disc/CLIP/C0001.MXF")
  message(FATAL_ERROR "run_on_fresh_disc: the fresh disc holds no CLIP/C0001.MXF")
endif()
