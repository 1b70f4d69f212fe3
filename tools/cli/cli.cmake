# The command-line host: argument parsing and output in a library, the
# calls into the driver in main. On Linux it links the shared library; on
# Windows tarvo.exe has the library's code linked in statically (the core
# and the Win32 layer, as tarvo.dll has them), so that the one .exe runs
# beside any tarvo.dll, or none, and imports system DLLs only.
# The port diagnosis and list read the registry file with the library's own
# parser and check CommSettings with its own rule (static, not exported).
find_package(Threads REQUIRED)
add_library(tarvo_cli_core STATIC cli/cli.cpp
  cli/script_parse.cpp
  cli/output.cpp
  cli/port_map.cpp
  cli/ports.cpp
  cli/script_stream.cpp
  cli/subcommands.cpp
  cli/trace_switch.cpp
  cli/wait_notice.cpp
  cli/why.cpp
  ${PROJECT_SOURCE_DIR}/src/driver/comm_settings.cpp)
target_include_directories(tarvo_cli_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src ${TARVO_GENERATED_DIR})
target_compile_options(tarvo_cli_core PRIVATE ${TARVO_WARNINGS})
target_link_libraries(tarvo_cli_core PUBLIC tarvo_tools_common tarvo_common Threads::Threads)

# tarvo report: reading trace logs back into a page, a summary and JSON.
add_library(tarvo_report STATIC
  report/trace_log.cpp
  report/decode.cpp
  report/decode_session.cpp
  report/diagnose.cpp
  report/advice.cpp
  report/format.cpp
  report/render.cpp
  report/verdict.cpp
  report/html.cpp
  report/report.cpp)
target_include_directories(tarvo_report PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/src)
target_compile_options(tarvo_report PRIVATE ${TARVO_WARNINGS})
# The catalogue of trace lines and the list of state-changing commands come
# from the library's static parts.
target_link_libraries(tarvo_report PUBLIC tarvo_tools_common tarvo_common)

add_executable(tarvo-cli cli/main.cpp cli/session_run.cpp cli/driver_open.cpp)
set_target_properties(tarvo-cli PROPERTIES OUTPUT_NAME tarvo)
target_compile_options(tarvo-cli PRIVATE ${TARVO_WARNINGS})
if(WIN32)
  target_link_libraries(tarvo-cli PRIVATE tarvo_cli_core tarvo_report tarvo_core tarvo_win32)
else()
  target_link_libraries(tarvo-cli PRIVATE tarvo_cli_core tarvo_report tarvo)
endif()
# The version shown is the project's, set once in the top CMakeLists.txt,
# from the header CMake makes of it (tarvo_version.h, all four parts).
