# Checks that the shared library exports exactly the calls of the public
# header: the eleven driver calls under their plain and TARVO_ names, and
# the three FC_ calls. Run as: cmake -DLIBRARY=<path> -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/library_symbols.cmake)

set(driver_calls
  IniciaDriver EncerraDriver DefineTimeout DoMessage
  LimpaParams AdicionaParam ExecutaComando
  ObtemCodErro ObtemNomeErro ObtemCircunstancia
  Retorno)
set(expected FC_Operacao FC_Inicializa FC_Finaliza)
foreach(call IN LISTS driver_calls)
  list(APPEND expected ${call} TARVO_${call})
endforeach()
list(SORT expected)

library_symbols(lines --defined-only)

# Lines such as "0000000000012345 T IniciaDriver". Version nodes ("A") and
# symbol versions ("@@...") are not exports of their own.
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ @]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND exported ${CMAKE_MATCH_2})
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES exported)
list(SORT exported)

set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected expectedCount)
list(LENGTH exported exportedCount)

if(missing OR extra)
  message(FATAL_ERROR
    "${LIBRARY} exports ${exportedCount} names, expected exactly ${expectedCount}.\n"
    "  missing: ${missing}\n"
    "  unexpected: ${extra}")
endif()
message(STATUS "${LIBRARY} exports exactly the ${expectedCount} calls of tarvo.h")
