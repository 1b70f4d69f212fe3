# Windows: the Win32 system layer, the simulated line for the tests, and
# tarvo.dll. Included by the top-level CMakeLists.txt on WIN32, after the
# common targets; the DLL takes its sources from tarvo_core_objects, so the
# source list lives in one place.
#
# Built with MinGW-w64 (cmake/mingw-i686.cmake for the shipping 32-bit DLL,
# cmake/mingw-x86_64.cmake for the 64-bit build that runs the tests under
# Wine). Everything is linked statically: the DLL imports system DLLs only.

if(NOT MINGW)
  message(FATAL_ERROR "TARVO's Windows build expects a MinGW-w64 toolchain (see docs/windows.md)")
endif()

# The trace's time stamp has a two-digit year by design; MinGW's strftime
# is format-checked (glibc's is not) and would flag it.
list(APPEND TARVO_WARNINGS -Wno-format-y2k)

# The C and C++ runtimes of the compiler (libgcc, libstdc++, winpthread)
# go into each module; only msvcrt and the system DLLs are imported.
add_link_options(-static)

# The Win32 system layer.
add_library(tarvo_win32 STATIC
  src/serial/win32/devices.cpp
  src/serial/win32/comm.cpp
  src/serial/win32/network.cpp
  src/serial/win32/net_socket.cpp
  src/serial/win32/line.cpp
  src/serial/win32/files.cpp)
tarvo_library_target(tarvo_win32)
# ws2_32: Winsock for the network ports, a system DLL like the others.
# tarvo_core: the network client, written once for every platform.
target_link_libraries(tarvo_win32 PUBLIC tarvo_common tarvo_core advapi32 user32 ws2_32)

# The simulated line for tests; files and the time of day stay real.
add_library(tarvo_sim STATIC
  src/serial/sim/sim_line.cpp
  src/serial/sim/sim_system.cpp
  src/serial/win32/files.cpp)
tarvo_library_target(tarvo_sim)
target_link_libraries(tarvo_sim PUBLIC tarvo_common)

# The export table. src/driver/tarvo.def carries the 32-bit stdcall
# decorations; the 64-bit DLL uses a copy without them.
set(TARVO_DEF_SOURCE ${PROJECT_SOURCE_DIR}/src/driver/tarvo.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TARVO_DEF_SOURCE})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TARVO_DEF ${TARVO_DEF_SOURCE})
else()
  file(READ ${TARVO_DEF_SOURCE} def_text)
  string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  set(TARVO_DEF ${CMAKE_BINARY_DIR}/tarvo.def)
  file(CONFIGURE OUTPUT ${TARVO_DEF} CONTENT "${def_text}" @ONLY)
endif()

# The version resource, from the project's version.
enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/src/driver/tarvo.rc.in ${CMAKE_BINARY_DIR}/tarvo.rc @ONLY)

# The shipping DLL: the core, the Win32 layer, the export table and the
# version resource.
add_library(tarvo SHARED $<TARGET_OBJECTS:tarvo_core_objects> ${TARVO_DEF}
  ${CMAKE_BINARY_DIR}/tarvo.rc)
target_link_libraries(tarvo PRIVATE tarvo_win32 tarvo_common)
# --kill-at exports the stdcall names without their "@N".
target_link_options(tarvo PRIVATE -Wl,--kill-at -Wl,--no-undefined)
target_include_directories(tarvo PUBLIC ${PROJECT_SOURCE_DIR}/include)
set_target_properties(tarvo PROPERTIES
  PREFIX ""
  LINK_DEPENDS ${TARVO_DEF}
  PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/tarvo.h)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The linker's import library would lose the decorations with --kill-at;
  # dlltool's maps _IniciaDriver@4 (what a host compiled with tarvo.h
  # references) to the undecorated export.
  if(NOT CMAKE_DLLTOOL)
    message(FATAL_ERROR "the 32-bit import library needs dlltool (CMAKE_DLLTOOL)")
  endif()
  add_custom_command(TARGET tarvo POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${TARVO_DEF} --dllname tarvo.dll
            --output-lib $<TARGET_LINKER_FILE:tarvo>
    COMMENT "Import library with the stdcall decorations")
endif()

# A host built against the header and the import library: it links only if
# every name of the header reaches the DLL through the import library.
add_executable(tarvo_link_check tests/windows/link_check.c)
target_link_libraries(tarvo_link_check PRIVATE tarvo)
target_compile_options(tarvo_link_check PRIVATE -Wall -Wextra -Werror)

install(TARGETS tarvo RUNTIME DESTINATION bin ARCHIVE DESTINATION lib PUBLIC_HEADER DESTINATION include)

# GoogleTest from the Debian sources, built with this toolchain, without
# its thread support (the tests are single-threaded).
# Without those sources, the tests look for an installed GoogleTest.
set(TARVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
if(TARVO_TESTS AND NOT TARGET GTest::gtest AND EXISTS ${TARVO_GTEST_SOURCE}/CMakeLists.txt)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARVO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
