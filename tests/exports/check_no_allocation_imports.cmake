# Checks that the shared library imports no heap allocation function: it
# allocates nothing after load, so neither the C allocator nor operator new
# may appear among its undefined symbols. (operator delete may: a virtual
# destructor brings in a reference to it, which is never called on
# anything the library allocated.)
# Run as: cmake -DLIBRARY=<path> -P check_no_allocation_imports.cmake
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/library_symbols.cmake)
library_symbols(lines --undefined-only)

# C allocation, functions that allocate what they return (localtime may
# reload the time-zone rules), and every form of
# operator new (_Znwm, _Znam and their aligned and nothrow variants).
set(forbidden
  malloc calloc realloc reallocarray aligned_alloc memalign posix_memalign valloc pvalloc
  strdup strndup asprintf vasprintf fopen fdopen freopen open_memstream getline getdelim
  tmpfile opendir scandir localtime ctime)
set(found)
foreach(line IN LISTS lines)
  if(line MATCHES "^ *U ([^ @]+)")
    set(name ${CMAKE_MATCH_1})
    if(name IN_LIST forbidden OR name MATCHES "^_Zna" OR name MATCHES "^_Znw")
      list(APPEND found ${name})
    endif()
  endif()
endforeach()

if(found)
  message(FATAL_ERROR "${LIBRARY} imports allocating functions: ${found}")
endif()
