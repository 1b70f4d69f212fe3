#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages that building and testing
# TARVO needs and that this machine lacks. Does nothing when all are there.
set -euo pipefail

packages=(
  cmake make g++ pkg-config dpkg-dev
  # the man pages' test renders them with groff and man
  groff-base man-db
  googletest libgtest-dev libbenchmark-dev
  clang clang-tidy cppcheck clang-format libclang-rt-14-dev
  # the Windows DLL and its tests under Wine (make windows)
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 python3
  # the Pascal binding's example program (fp-compiler provides fpc)
  fp-compiler
  # the real peer of the network serial port tests (RFC 2217)
  ser2net
  # the C# binding's tests with Mono (cp1252 comes from the i18n package)
  mono-mcs mono-runtime libmono-i18n-west4.0-cil
  # the 32-bit DLL's tests under 32-bit Wine (make windows)
  wine32:i386
  # tarvo report's page is checked in a real browser (headless)
  chromium
  # the tools' JSON output (header-only, also for the MinGW build)
  nlohmann-json3-dev
  # the Java binding: JNA and a JDK (javac and jar, driven from CMake)
  default-jdk-headless libjna-java
  # the Debian package is checked with lintian (make package)
  lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# wine32 is a package of the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then $sudo dpkg --add-architecture i386; fi
# With the recommended packages, as the project's machines were set up and
# tested (wine64 brings its loader's companions this way).
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
