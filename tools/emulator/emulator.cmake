# The printer emulator (tarvo-emu), on Linux and, cross-compiled with
# MinGW-w64, on Windows (tarvo-emu.exe). Included by tools/CMakeLists.txt.

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
