# Compares the dynamic symbol table of a shared library with a list of names.
#
#   cmake -DLIBRARY=<path to .so> -DEXPECTED=<file, one name a line> -P check_exports.cmake
#
# Every defined dynamic symbol counts, whatever its type (code, data, weak):
# a template instantiation or a static object that slips out of the library
# is as much a change of the export table as a missing function.

foreach(var LIBRARY EXPECTED)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_exports: -D${var}=... is required")
  endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "check_exports: library not found: ${LIBRARY}")
endif()
if(NOT EXISTS "${EXPECTED}")
  message(FATAL_ERROR "check_exports: list not found: ${EXPECTED}")
endif()

find_program(NM_PROGRAM NAMES nm)
if(NOT NM_PROGRAM)
  message(FATAL_ERROR "check_exports: nm not found")
endif()

execute_process(
  COMMAND "${NM_PROGRAM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE nm_output
  ERROR_VARIABLE nm_error
  RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "check_exports: nm failed (${nm_result}): ${nm_error}")
endif()

# Lines look like "000000000000832c T QUILAPI_CloseVolume"; symbols of a
# versioned library carry "@VERSION" or "@@VERSION", which is not part of the name.
set(actual "")
string(REPLACE "\n" ";" nm_lines "${nm_output}")
foreach(line IN LISTS nm_lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES actual)
list(SORT actual)

file(STRINGS "${EXPECTED}" expected)
set(cleaned "")
foreach(name IN LISTS expected)
  string(STRIP "${name}" name)
  if(NOT name STREQUAL "")
    list(APPEND cleaned "${name}")
  endif()
endforeach()
set(expected ${cleaned})
list(REMOVE_DUPLICATES expected)
list(SORT expected)

set(missing ${expected})
if(actual)
  list(REMOVE_ITEM missing ${actual})
endif()
set(extra ${actual})
if(expected)
  list(REMOVE_ITEM extra ${expected})
endif()

if(missing OR extra)
  list(JOIN missing "\n  " missing_text)
  list(JOIN extra "\n  " extra_text)
  list(LENGTH actual actual_count)
  list(LENGTH expected expected_count)
  message(FATAL_ERROR
    "check_exports: the export table of ${LIBRARY} differs from ${EXPECTED} "
    "(${actual_count} exported, ${expected_count} expected)\n"
    "missing:\n  ${missing_text}\n"
    "extra:\n  ${extra_text}")
endif()

list(LENGTH actual count)
message(STATUS "check_exports: ${count} symbols, as expected")
