# The tools' platform layer and the printer emulator (tarvo-emu), on Linux
# and, cross-compiled with MinGW-w64, on Windows (tarvo-emu.exe). Included
# by tools/CMakeLists.txt; on Windows that file includes only this.

# What the tools need of the system, one file per platform.
if(WIN32)
  add_library(tarvo_tools_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/../platform/win32.cpp)
  target_link_libraries(tarvo_tools_platform PUBLIC ws2_32)
else()
  add_library(tarvo_tools_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/../platform/posix.cpp)
endif()
target_include_directories(tarvo_tools_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_options(tarvo_tools_platform PRIVATE ${TARVO_WARNINGS})

# The emulator as a library: protocol, printer, session and the network
# port's server are objects over bytes with no I/O; the lines and the loop
# reach the system only through the platform layer.
add_library(tarvo_emulator STATIC
  emulator/protocol.cpp
  emulator/printer.cpp
  emulator/printer_reads.cpp
  emulator/printer_state.cpp
  emulator/printer_values.cpp
  emulator/session.cpp
  emulator/port_server.cpp
  emulator/lines.cpp
  emulator/emulator.cpp
  emulator/options.cpp
  emulator/usage.cpp)
target_include_directories(tarvo_emulator PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..
  ${TARVO_GENERATED_DIR})
target_compile_options(tarvo_emulator PRIVATE ${TARVO_WARNINGS})
# tarvo_common: the driver's own Telnet parser and encoders (serial/rfc2217).
target_link_libraries(tarvo_emulator PUBLIC tarvo_tools_common tarvo_tools_platform tarvo_common)

add_executable(tarvo-emu emulator/main.cpp)
target_compile_options(tarvo-emu PRIVATE ${TARVO_WARNINGS})
target_link_libraries(tarvo-emu PRIVATE tarvo_emulator)

if(TARVO_TESTS)
  if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
  # The emulator's pure parts (on Windows too, under Wine).
  add_executable(tarvo_emulator_tests
    emulator/tests/protocol_test.cpp
    emulator/tests/printer_test.cpp
    emulator/tests/session_test.cpp
    emulator/tests/port_server_test.cpp)
  target_compile_options(tarvo_emulator_tests PRIVATE ${TARVO_WARNINGS})
  target_link_libraries(tarvo_emulator_tests PRIVATE tarvo_emulator GTest::gtest_main)
  gtest_discover_tests(tarvo_emulator_tests DISCOVERY_TIMEOUT 60)

  # The command-line host of the Linux build against the emulator's
  # --listen, its control lines on standard input: on Linux the Linux
  # emulator; in the Windows build tarvo-emu.exe under Wine, when the Linux
  # build (TARVO_EMULATOR, its tarvo beside it) is there.
  find_package(Python3 COMPONENTS Interpreter)
  set(console_test ${PROJECT_SOURCE_DIR}/tests/tools/emulator_console_test.py)
  if(NOT WIN32 AND Python3_Interpreter_FOUND)
    add_test(NAME emulator.cli_sale_over_listen_with_console_control
      COMMAND Python3::Interpreter ${console_test} --cli $<TARGET_FILE:tarvo-cli> --
              $<TARGET_FILE:tarvo-emu>)
    set_tests_properties(emulator.cli_sale_over_listen_with_console_control PROPERTIES
      TIMEOUT 120 LABELS listen)
  elseif(WIN32 AND TARVO_EMULATOR)
    get_filename_component(linux_tools ${TARVO_EMULATOR} DIRECTORY)
  endif()
  # tarvo-emu.exe serving a COM port of the Wine prefix that is a Linux
  # pseudo-terminal, the test being the host on its other side.
  if(WIN32)
    add_test(NAME windows.tarvo_emu_exe_serves_a_com_port
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/tools/emulator_com_test.py --
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo-emu>)
    set_tests_properties(windows.tarvo_emu_exe_serves_a_com_port PROPERTIES
      RESOURCE_LOCK tarvo_wine_ports TIMEOUT 300)
  endif()
  if(WIN32 AND TARVO_EMULATOR AND EXISTS ${linux_tools}/tarvo)
    add_test(NAME windows.linux_cli_sale_on_tarvo_emu_exe_listen
      COMMAND ${Python3_EXECUTABLE} ${console_test} --cli ${linux_tools}/tarvo --
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo-emu>)
    set_tests_properties(windows.linux_cli_sale_on_tarvo_emu_exe_listen PROPERTIES TIMEOUT 300)
  endif()
endif()
