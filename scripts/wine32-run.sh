#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine's WoW64 set-up: the 32-bit
# loader (Debian's wine32:i386) with the 64-bit wineserver and a prefix made
# by the 64-bit loader, which serves both. This is what the i686 build's
# tests run under. (/usr/bin/wine with a fresh prefix does not work: its
# wineboot makes a 64-bit prefix that the 32-bit wineserver refuses.)
#
# Everything else, the prefix included, is as in wine64-run.sh.
set -euo pipefail
export TARVO_WINE=${TARVO_WINE32:-/usr/lib/wine/wine}
exec "$(dirname "$0")/wine64-run.sh" "$@"
