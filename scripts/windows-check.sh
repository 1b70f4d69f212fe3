#!/usr/bin/env bash
# Builds and checks the Windows DLLs (what `make windows` runs):
#   - the shipping 32-bit tarvo.dll (i686): its export table, its imports
#     and the stdcall returns of its exports, checked without running it;
#     then, where this machine runs 32-bit programs under Wine (Debian's
#     wine32:i386, found out with a tiny probe), the i686 build's whole test
#     suite under 32-bit Wine;
#   - the 64-bit build of the same sources (the release's x64 tarvo.dll):
#     the same static checks, and its whole test suite under wine64;
#   - the emulator tarvo-emu.exe of both builds: it imports only system
#     DLLs, and each suite serves a sale with it under Wine (--listen) to
#     the Linux tarvo beside EMULATOR;
#   - the command-line host tarvo.exe of both builds: it imports only
#     system DLLs, and each suite runs it under Wine (sales on COM5 served
#     by EMULATOR, why, ports, trace and report, its platform layer).
# A suite covers the unit suites on the simulated line, the Win32 layer
# against pseudo-terminals mapped as COM ports, and a host loading the DLL.
# Wine runs in a fresh prefix in a temporary directory, removed at the end;
# the 32-bit programs run in it too, through Wine's WoW64 set-up (see
# scripts/wine32-run.sh).
#
# Usage: scripts/windows-check.sh WIN32_BUILD_DIR WIN64_BUILD_DIR [JOBS [EMULATOR]]
# EMULATOR: tarvo-emu of a Linux build; when it exists, a host also runs a
# sale on it through each DLL whose suite runs, and the Linux tarvo beside
# it runs one on tarvo-emu.exe.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 WIN32_BUILD_DIR WIN64_BUILD_DIR [JOBS [EMULATOR]]" >&2
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

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-wine64.XXXXXX")
export WINEPREFIX
probe_dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-probe32.XXXXXX")
cleanup() {
  # Only this prefix's server, which these tests started.
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$probe_dir"
}
trap cleanup EXIT
# The prefix is made now, once, before the builds run test programs to
# list their tests.
scripts/wine64-run.sh --init-only
# Then one server serves the whole check, until cleanup stops it. Twice, in
# loaded runs, a test program ended at once with a failure and no output;
# the likeliest cause is a program that starts just as a server idle for its
# few seconds shuts down, and a suite has idle moments (a test that runs
# only Linux programs for a while). The runner's own start then finds this
# server running.
/usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1

# Does this machine run 32-bit programs? A program that exits with 0 only
# when its pointers are 4 bytes wide, under the 32-bit loader. The probe
# is bounded in time: a missing or broken 32-bit Wine must not hang the step.
runs32=OFF
printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' >"$probe_dir/probe.c"
loader32=${TARVO_WINE32:-/usr/lib/wine/wine}
if [ ! -x "$loader32" ]; then
  why="no 32-bit Wine loader $loader32 (Debian package wine32:i386)"
elif ! i686-w64-mingw32-gcc -o "$probe_dir/probe.exe" "$probe_dir/probe.c"; then
  why="the i686 compiler could not build the probe"
elif timeout 120 scripts/wine32-run.sh "$probe_dir/probe.exe" >/dev/null 2>&1; then
  runs32=ON
else
  why="a 32-bit probe program does not run under 32-bit Wine"
fi
if [ "$runs32" = OFF ]; then
  echo "make windows: this machine runs no 32-bit programs ($why): the 32-bit DLL is checked statically only"
fi

cmake -S . -B "$build32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=$runs32 -DTARVO_EMULATOR="$emulator"
cmake --build "$build32" -j "$jobs"
python3 tests/windows/check_dll.py --objdump i686-w64-mingw32-objdump \
  --def src/driver/tarvo.def "$build32/tarvo.dll"
python3 tests/windows/check_exe.py --objdump i686-w64-mingw32-objdump --machine i386 \
  "$build32/tools/tarvo-emu.exe" "$build32/tools/tarvo.exe"

# TARVO_TESTS is always given: a build directory that make package-windows
# made first has it OFF in its cache, and its suite would then find no tests.
cmake -S . -B "$build64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=ON -DTARVO_EMULATOR="$emulator"
cmake --build "$build64" -j "$jobs"
python3 tests/windows/check_dll.py --objdump x86_64-w64-mingw32-objdump \
  --def src/driver/tarvo.def "$build64/tarvo.dll"
python3 tests/windows/check_exe.py --objdump x86_64-w64-mingw32-objdump --machine x86-64 \
  "$build64/tools/tarvo-emu.exe" "$build64/tools/tarvo.exe"
ctest --test-dir "$build64" --no-tests=error --output-on-failure -j "$jobs"

# One suite after the other: both use the prefix's COM ports.
if [ "$runs32" = ON ]; then
  start=$(date +%s)
  ctest --test-dir "$build32" --no-tests=error --output-on-failure -j "$jobs"
  echo "make windows: the 32-bit suite ran under 32-bit Wine in $(($(date +%s) - start)) s"
fi
