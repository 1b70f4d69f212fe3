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
# when a server is already running. It stays 30 s after its last program
# (3 s by default), so that a suite's programs never start while an idle
# server is shutting down; make windows stops it at the end.
"${TARVO_WINESERVER:-/usr/lib/wine/wineserver64}" -p30 </dev/null >/dev/null 2>&1 || true

if [ "${1:-}" = "--init-only" ]; then exit 0; fi
exec "$wine" "$@"
