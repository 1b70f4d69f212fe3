#!/usr/bin/env bash
# The Debian package as a Debian developer checks it.
#   deb_test.sh unpack BUILD_DIR DIR   cpack into DIR/pkg, unpack into DIR/root
#   deb_test.sh check DIR VERSION      the unpacked package's files
#   deb_test.sh lintian DIR            no error and no warning from lintian
set -euo pipefail

if [ "$1" = unpack ]; then
  build=$2 dir=$3
  rm -rf "$dir"
  mkdir -p "$dir"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$dir/pkg" >"$dir/cpack.log" 2>&1 ||
    { cat "$dir/cpack.log"; exit 1; }
  deb=$(ls "$dir"/pkg/tarvo_*.deb)
  dpkg-deb -x "$deb" "$dir/root"
  echo "unpacked $deb"
  exit 0
fi

if [ "$1" = lintian ]; then
  # Overridden tags need their reason in packaging/debian/lintian-overrides.
  lintian --fail-on error,warning --tag-display-limit 0 "$2"/pkg/*.deb "$2"/pkg/*.ddeb
  echo "lintian: no error and no warning"
  exit 0
fi

dir=$2 version=$3
root=$dir/root
status=0
fail() { echo "$*"; status=1; }
debug_files=$(dpkg-deb -c "$dir"/pkg/tarvo-dbgsym_*.ddeb)

# Stripped: no symbol table and no debug sections in what is installed...
libdir=$(dirname "$(find "$root/usr/lib" -name 'libtarvo.so.*.*')")
for f in "$root"/usr/bin/tarvo "$root"/usr/bin/tarvo-emu "$libdir"/libtarvo.so.*.*; do
  sections=$(readelf -SW "$f")
  if grep -qE '\.(symtab|debug_info)\b' <<<"$sections"; then fail "$f is not stripped"; fi
  # ...and their debug symbols in the -dbgsym package, under the build id.
  id=$(readelf -n "$f" | awk '/Build ID/ {print $3}')
  [ -n "$id" ] || { fail "$f has no build id"; continue; }
  grep -q "usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" <<<"$debug_files" ||
    fail "no debug symbols for $f (build id $id) in the -dbgsym package"
done

# The -dbgsym package's md5sums name its own files, and its documentation
# is the main package's.
rm -rf "$dir/dbgsym"
dpkg-deb -R "$dir"/pkg/tarvo-dbgsym_*.ddeb "$dir/dbgsym"
(cd "$dir/dbgsym" && ! grep -q '^[0-9a-f]*  /' DEBIAN/md5sums && md5sum --quiet -c DEBIAN/md5sums) ||
  fail "the -dbgsym package's md5sums do not name its own files: $(head -n 1 "$dir/dbgsym/DEBIAN/md5sums")"
[ "$(readlink "$dir/dbgsym/usr/share/doc/tarvo-dbgsym")" = tarvo ] ||
  fail "the -dbgsym package's doc directory is not a link to tarvo's"

# Man pages gzipped, none left plain.
for page in tarvo tarvo-emu; do
  gzip -t "$root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz missing or broken"
done
[ -z "$(find "$root/usr/share/man" -name '*.1')" ] || fail "an uncompressed man page"

doc=$root/usr/share/doc/tarvo
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright is not machine-readable"
zcat "$doc/changelog.Debian.gz" | head -n 1 | grep -q "^tarvo ($version-[0-9]*) " ||
  fail "changelog.Debian.gz does not start with tarvo ($version-N)"

# pkg-config gives plain paths: nothing through the pkgconfig directory.
pc=$libdir/pkgconfig/tarvo.pc
grep -qx 'prefix=/usr' "$pc" || fail "tarvo.pc: $(grep '^prefix' "$pc")"
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs tarvo)
[ "$(echo $flags)" = "-ltarvo" ] || fail "pkg-config --cflags --libs tarvo gives: $flags"

[ $status -eq 0 ] && echo "the package is stripped, its symbols are in -dbgsym, its pages and documents are as Debian wants"
exit $status
