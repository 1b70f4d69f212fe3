#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine, headless and quiet: the
# emulator of the x86_64 MinGW build's tests (and, through wine32-run.sh,
# of the i686 build's).
#
# WINEPREFIX: the Wine prefix to use (default: a per-user one in the
# temporary directory). It is created with `wineboot -i` on first use; a
# lock keeps parallel tests from creating it twice. With the single
# argument --init-only the prefix is made ready and nothing is run.
set -euo pipefail

# TARVO_WINE, TARVO_WINESERVER: another loader and server. The 32-bit
# loader /usr/lib/wine/wine runs with the default 64-bit server and prefix
# (see wine32-run.sh).
wine=${TARVO_WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/tarvo-wine64-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

if [ ! -e "$WINEPREFIX/.tarvo-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -e "$WINEPREFIX/.tarvo-ready" ]; then
      # Always the 64-bit loader: its prefix serves 32-bit programs too.
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
      # Let the processes that wineboot started finish with the new prefix
      # before any program runs in it.
      "${TARVO_WINESERVER:-/usr/lib/wine/wineserver64}" -w >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.tarvo-ready"
    fi
  ) 9>"$WINEPREFIX/.tarvo-lock"
fi

# Start the server ourselves, detached from our output: it opens the
# pseudo-terminals that tests map as COM ports and so becomes their
# session's leader, and the hang-up it gets when a test's terminal closes
# makes it dump its objects to whatever stderr it inherited. Fails harmlessly
# when a server is already running.
"${TARVO_WINESERVER:-/usr/lib/wine/wineserver64}" </dev/null >/dev/null 2>&1 || true

if [ "${1:-}" = "--init-only" ]; then exit 0; fi

# Listing a test program's tests is how the build registers them with
# ctest, so a listing that Wine itself loses (seen once in a loaded CI run:
# the whole list printed, yet a failure) fails the build. A listing has no
# side effects: it is bounded in time and tried a second time, and each
# failure is reported with its exit status. A program that cannot list its
# tests fails both times, and so the build.
list_tests() {
  local out rc=0 attempt
  out=$(mktemp "${TMPDIR:-/tmp}/tarvo-list.XXXXXX")
  for attempt in first second; do
    if timeout 40 "$wine" "$@" >"$out"; then
      cat "$out"
      rm -f "$out"
      return 0
    else
      rc=$?
    fi
    echo "$0: the $attempt listing of $1's tests failed (exit status $rc)" >&2
  done
  rm -f "$out"
  return "$rc"
}

if [ "${2:-}" = "--gtest_list_tests" ]; then
  list_tests "$@"
  exit
fi
exec "$wine" "$@"
