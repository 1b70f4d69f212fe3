# Under Wine (make windows): the host's Windows platform layer, tarvo-emu.exe
# serving a COM port of the Wine prefix, and tarvo.exe and tarvo-emu.exe
# against the Linux tools of the Linux build (TARVO_EMULATOR, its tarvo
# beside it), where that build is there. Included by tests/tools/.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(windows_tests ${CMAKE_CURRENT_LIST_DIR})

add_executable(tarvo_host_win32_tests ${windows_tests}/host_win32_test.cpp)
target_compile_options(tarvo_host_win32_tests PRIVATE ${TARVO_WARNINGS})
target_link_libraries(tarvo_host_win32_tests PRIVATE tarvo_cli_core GTest::gtest_main)
# The registry's Ports key is the prefix's, shared with the Win32 layer's tests.
add_test(NAME windows.tools_host_layer
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo_host_win32_tests>)
set_tests_properties(windows.tools_host_layer PROPERTIES RESOURCE_LOCK tarvo_wine_ports
  TIMEOUT 120)

# tarvo-emu.exe serving a COM port of the Wine prefix that is a Linux
# pseudo-terminal, the test being the host on its other side.
add_test(NAME windows.tarvo_emu_exe_serves_a_com_port
  COMMAND ${Python3_EXECUTABLE} ${windows_tests}/emulator_com_test.py --
          ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo-emu>)
set_tests_properties(windows.tarvo_emu_exe_serves_a_com_port PROPERTIES
  RESOURCE_LOCK tarvo_wine_ports TIMEOUT 300)

# tarvo.exe against tarvo-emu.exe's --listen, both under Wine: what a host
# developer with only the zip runs.
add_test(NAME windows.tarvo_exe_sale_on_tarvo_emu_exe_listen
  COMMAND ${Python3_EXECUTABLE} ${tools_tests}/emulator/emulator_console_test.py
          --cli $<TARGET_FILE:tarvo-cli> --cli-runner ${CMAKE_CROSSCOMPILING_EMULATOR}
          -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo-emu>)
set_tests_properties(windows.tarvo_exe_sale_on_tarvo_emu_exe_listen PROPERTIES TIMEOUT 300)

# Holds a COM port with share mode 0, for `tarvo why` on a port in use.
add_executable(tarvo_hold_port ${windows_tests}/hold_port.cpp)
target_compile_options(tarvo_hold_port PRIVATE ${TARVO_WARNINGS})

if(NOT TARVO_EMULATOR)
  return()
endif()
get_filename_component(linux_tools ${TARVO_EMULATOR} DIRECTORY)

# The Linux tarvo against tarvo-emu.exe's --listen.
if(EXISTS ${linux_tools}/tarvo)
  add_test(NAME windows.linux_cli_sale_on_tarvo_emu_exe_listen
    COMMAND ${Python3_EXECUTABLE} ${tools_tests}/emulator/emulator_console_test.py
            --cli ${linux_tools}/tarvo -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:tarvo-emu>)
  set_tests_properties(windows.linux_cli_sale_on_tarvo_emu_exe_listen PROPERTIES TIMEOUT 300)
endif()

# tarvo.exe on COM5 served by the Linux emulator on a pseudo-terminal; the
# Linux tarvo beside the emulator reads the same logs for the report.
add_test(NAME windows.tarvo_exe_against_the_linux_emulator
  COMMAND ${Python3_EXECUTABLE} ${windows_tests}/cli_wine_test.py
    --runner ${CMAKE_CROSSCOMPILING_EMULATOR} --exe $<TARGET_FILE:tarvo-cli>
    --emulator ${TARVO_EMULATOR} --printer ${PROJECT_SOURCE_DIR}/tests/windows/printer.py
    --linux-cli ${linux_tools}/tarvo --holder $<TARGET_FILE:tarvo_hold_port>)
set_tests_properties(windows.tarvo_exe_against_the_linux_emulator PROPERTIES
  RESOURCE_LOCK tarvo_wine_ports TIMEOUT 600)
