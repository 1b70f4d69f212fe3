#!/usr/bin/env bash
# Builds the 32-bit DLL and puts the Windows release zip together:
#   BUILD_DIR/tarvo-<version>-win32.zip
# Usage: scripts/package-windows.sh [WIN32_BUILD_DIR [JOBS]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win32}
jobs=${2:-2}

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF > /dev/null
cmake --build "$build" -j "$jobs" --target tarvo
version=$(sed -n 's/^project(tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

stage="$build/tarvo-$version-win32"
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/tarvo.dll" "$build/libtarvo.dll.a" src/driver/tarvo.def include/tarvo.h \
  bindings/pascal/tarvo.pas bindings/python/tarvo.py "$stage/"
cp packaging/windows/README-windows.txt "$stage/README.txt"
i686-w64-mingw32-strip --strip-debug "$stage/tarvo.dll"
(cd "$build" && rm -f "tarvo-$version-win32.zip" &&
  cmake -E tar cf "tarvo-$version-win32.zip" --format=zip "tarvo-$version-win32")
echo "$build/tarvo-$version-win32.zip"
