#!/usr/bin/env bash
# Builds both Windows DLLs and puts the Windows release zip together:
#   WIN32_BUILD_DIR/tarvo-<version>-win32.zip
# holding, in its top folder, the 32-bit DLL (the one Delphi 7 and every
# 32-bit host loads) with its import library and .def, the header, the
# bindings (the Java one in java/), the command-line host tarvo.exe (the
# library linked in) and the printer emulator tarvo-emu.exe
# (32-bit, system imports only), and in x64/ the 64-bit DLL with its own
# import library and .def (for 64-bit processes). Both DLLs pass the static
# export check first.
# Usage: scripts/package-windows.sh [WIN32_BUILD_DIR [JOBS [WIN64_BUILD_DIR]]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win32}
jobs=${2:-2}
build64=${3:-build-win64}

# Only the DLLs and the emulator are built. A build directory that make windows already
# set up keeps its tests; a fresh one is made without them.
configure() {
  local dir=$1 toolchain=$2 fresh=()
  [ -e "$dir/CMakeCache.txt" ] || fresh=(-DTARVO_TESTS=OFF)
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${fresh[@]}" > /dev/null
}
configure "$build" cmake/mingw-i686.cmake
cmake --build "$build" -j "$jobs" --target tarvo tarvo-emu tarvo-cli
configure "$build64" cmake/mingw-x86_64.cmake
cmake --build "$build64" -j "$jobs" --target tarvo
python3 tests/windows/check_dll.py --objdump i686-w64-mingw32-objdump \
  --def src/driver/tarvo.def "$build/tarvo.dll"
python3 tests/windows/check_dll.py --objdump x86_64-w64-mingw32-objdump \
  --def src/driver/tarvo.def "$build64/tarvo.dll"
python3 tests/windows/check_exe.py --objdump i686-w64-mingw32-objdump --machine i386 \
  "$build/tools/tarvo-emu.exe" "$build/tools/tarvo.exe"
version=$(sed -n 's/^project(tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

stage="$build/tarvo-$version-win32"
rm -rf "$stage"
mkdir -p "$stage/x64"
cp "$build/tarvo.dll" "$build/libtarvo.dll.a" "$build/tools/tarvo-emu.exe" "$build/tools/tarvo.exe" \
  src/driver/tarvo.def include/tarvo.h \
  bindings/pascal/tarvo.pas bindings/python/tarvo.py bindings/dotnet/Tarvo.cs "$stage/"
cp bindings/dotnet/examples/Venda.cs "$stage/"
# The Java binding's jar (the same one the Debian package has: built by the
# binding's own CMake project, javac and jar only), its sources, the example
# and which JNA to add, in java/.
cmake -S bindings/java -B "$build/java" > /dev/null
cmake --build "$build/java" -j "$jobs"
mkdir -p "$stage/java"
cp "$build/java/tarvo.jar" "$build/java/tarvo-sources.jar" bindings/java/examples/Venda.java \
  "$stage/java/"
cp bindings/java/README-windows.txt "$stage/java/README.txt"
# The 64-bit build's .def: the same names without the 32-bit decorations.
cp "$build64/tarvo.dll" "$build64/libtarvo.dll.a" "$build64/tarvo.def" "$stage/x64/"
cp packaging/windows/README-windows.txt "$stage/README.txt"
i686-w64-mingw32-strip --strip-debug "$stage/tarvo.dll"
i686-w64-mingw32-strip --strip-debug "$stage/tarvo-emu.exe" "$stage/tarvo.exe"
x86_64-w64-mingw32-strip --strip-debug "$stage/x64/tarvo.dll"
(cd "$build" && rm -f "tarvo-$version-win32.zip" &&
  cmake -E tar cf "tarvo-$version-win32.zip" --format=zip "tarvo-$version-win32")
# The zip holds what a host developer and a technician need.
python3 - "$build/tarvo-$version-win32.zip" <<'PY'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
wanted = ("tarvo.dll", "tarvo-emu.exe", "tarvo.exe", "x64/tarvo.dll", "README.txt")
missing = [w for w in wanted if not any(n.endswith("/" + w) for n in names)]
if missing:
    sys.exit(f"the zip lacks {missing}")
# Its README has the technician's page and the host developer's.
readme = z.read(next(n for n in names if n.endswith("/README.txt") and "java" not in n)).decode()
for part in ("For technicians", "tarvo ports", "tarvo why", "tarvo trace on", "tarvo report",
             "For host developers", "tarvo-emu.exe --listen"):
    if part not in readme:
        sys.exit(f"the zip's README lacks {part!r}")
PY
echo "$build/tarvo-$version-win32.zip"
