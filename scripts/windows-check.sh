#!/usr/bin/env bash
# Builds and checks the Windows DLL (what `make windows` runs):
#   - the shipping 32-bit tarvo.dll (i686), checked without running it, since
#     this kind of machine may run no 32-bit code: its export table, its
#     imports and the stdcall returns of its exports;
#   - the 64-bit build of the same sources, whose whole test suite runs under
#     wine64: the unit suites on the simulated line, the Win32 layer against
#     pseudo-terminals mapped as COM ports, and a host loading the DLL.
# Wine runs in a fresh prefix in a temporary directory, removed at the end.
#
# Usage: scripts/windows-check.sh WIN32_BUILD_DIR WIN64_BUILD_DIR [JOBS [EMULATOR]]
# EMULATOR: tarvo-emu of a Linux build; when it exists, a host also runs a
# sale on it through the 64-bit DLL.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 WIN32_BUILD_DIR WIN64_BUILD_DIR [JOBS]" >&2
  exit 2
fi
build32=$1
build64=$2
jobs=${3:-2}
emulator=${4:-}
if [ -n "$emulator" ] && [ -x "$emulator" ]; then
  emulator=$(cd "$(dirname "$emulator")" && pwd)/$(basename "$emulator")
else
  emulator=""
fi
cd "$(dirname "$0")/.."

cmake -S . -B "$build32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF
cmake --build "$build32" -j "$jobs"
python3 tests/windows/check_dll.py --objdump i686-w64-mingw32-objdump \
  --def src/driver/tarvo.def "$build32/tarvo.dll"

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-wine64.XXXXXX")
export WINEPREFIX
cleanup() {
  # Only this prefix's server, which these tests started.
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# The prefix is made now, once, before the build runs test programs to
# list their tests.
scripts/wine64-run.sh --init-only

cmake -S . -B "$build64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_EMULATOR="$emulator"
cmake --build "$build64" -j "$jobs"
ctest --test-dir "$build64" --output-on-failure -j "$jobs"
