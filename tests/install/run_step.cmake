# run(<what> [NAME <script name>] COMMAND ...): the command must succeed;
# its output goes to OUT. Shared by the install and package checks.
function(run what)
  execute_process(${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    get_filename_component(script "${CMAKE_SCRIPT_MODE_FILE}" NAME_WE)
    message(FATAL_ERROR "${script}: ${what} failed (${result})\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

# Every -D variable the script needs, or a clear failure.
function(require_variables)
  get_filename_component(script "${CMAKE_SCRIPT_MODE_FILE}" NAME_WE)
  foreach(var ${ARGN})
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
      message(FATAL_ERROR "${script}: -D${var}=... is required")
    endif()
  endforeach()
endfunction()
