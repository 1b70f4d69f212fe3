# Cross-compiling for x86_64 Windows (the build the tests run under Wine)
# with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVO_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under 64-bit Wine, headless, in a prefix of their own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64-run.sh)
