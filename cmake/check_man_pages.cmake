# Checks the man pages' source: every usage line of a tool in its SYNOPSIS
# (none left over at the start of DESCRIPTION), and no section title with a
# double quote inside its own quotes, which man shows broken. (How they
# render is checked by tests/packaging/check_man_pages.py.)
# cmake -DMAN_DIR=... -P check_man_pages.cmake
foreach(page tarvo tarvo-emu)
  file(STRINGS ${MAN_DIR}/${page}.1 lines)
  set(section "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\.SH (.*)")
      set(section "${CMAKE_MATCH_1}")
    elseif(section STREQUAL "DESCRIPTION" AND line MATCHES "^${page} \\[OPTION\\]")
      message(FATAL_ERROR "${page}.1: a usage line ran into DESCRIPTION: ${line}")
    endif()
    if(line MATCHES "^\\.S[SH] \"")
      string(REGEX REPLACE "[^\"]" "" quotes "${line}")
      string(LENGTH "${quotes}" count)
      if(NOT count EQUAL 2)
        message(FATAL_ERROR "${page}.1: broken quotes in the title: ${line}")
      endif()
    endif()
  endforeach()
endforeach()
