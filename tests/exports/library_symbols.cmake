# Shared by the checks on the shared library's symbols: LIBRARY must name
# the built library; library_symbols(<var> <nm option>...) sets <var> to the
# lines of `nm -D <nm option>... LIBRARY`.
if(NOT LIBRARY OR NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "LIBRARY must name the built shared library (got '${LIBRARY}')")
endif()

find_program(NM NAMES nm)
if(NOT NM)
  message(FATAL_ERROR "nm not found")
endif()

function(library_symbols var)
  execute_process(
    COMMAND ${NM} -D ${ARGN} "${LIBRARY}"
    OUTPUT_VARIABLE symbols
    ERROR_VARIABLE errors
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}: ${errors}")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  set(${var} "${lines}" PARENT_SCOPE)
endfunction()
