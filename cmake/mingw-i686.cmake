# Cross-compiling for i686 Windows (the shipping 32-bit DLL) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVO_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs (make windows, where this machine runs 32-bit code) run
# under 32-bit Wine, headless, in a prefix of their own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine32-run.sh)
