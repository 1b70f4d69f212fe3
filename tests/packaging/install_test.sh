#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a tiny host
# against the installed files twice: with pkg-config and with find_package.
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
for f in include/tarvo.h share/doc/tarvo/examples/registry.reg.example; do
  test -f "$work/prefix/$f" || { echo "missing $f"; exit 1; }
done
# Every page the installed README links to is installed beside it.
doc="$work/prefix/share/doc/tarvo"
for page in $(grep -o '(\(docs\|bindings\)/[A-Za-z_-]*\.md)' "$doc/README.md" | tr -d '()' | sort -u); do
  test -f "$doc/$page" || { echo "the installed README links to $page, which is not installed"; exit 1; }
done
# The tools run from the moved prefix, without LD_LIBRARY_PATH.
mv "$work/prefix" "$work/moved"
test "$("$work/moved/bin/tarvo" --version)" = "tarvo 2.9.0.0" || { echo "tarvo does not run from a moved prefix"; exit 1; }
test "$("$work/moved/bin/tarvo-emu" --version)" = "tarvo-emu 2.9.0.0"
mv "$work/moved" "$work/prefix"
libdir=$(dirname "$(find "$work/prefix" -name 'libtarvo.so.2' | head -n 1)")
test -L "$libdir/libtarvo.so" || { echo "no libtarvo.so link"; exit 1; }
soname=$(objdump -p "$libdir/libtarvo.so" | awk '/SONAME/ {print $2}')
test "$soname" = "libtarvo.so.2" || { echo "SONAME is $soname"; exit 1; }

export PKG_CONFIG_PATH="$libdir/pkgconfig"
test "$(pkg-config --modversion tarvo)" = "2.9.0.0"
cc "$source_dir/host.c" $(pkg-config --cflags --libs tarvo) -o "$work/host-pc"
LD_LIBRARY_PATH="$libdir" "$work/host-pc"

cmake -S "$source_dir/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" > "$work/consumer.log"
cmake --build "$work/consumer" > "$work/consumer-build.log"
LD_LIBRARY_PATH="$libdir" "$work/consumer/host"
echo "installed library, header, pkg-config file and CMake package all work"
