#!/usr/bin/env bash
# A ctest run that finds no tests passes unless told otherwise: every run of
# ctest in the Makefile and the scripts must refuse zero tests, and make
# windows must configure the 64-bit build with its tests on, whatever a
# build directory's cache says (make package-windows leaves TARVO_TESTS=OFF).
# Usage: no_silent_skips.sh SOURCE_DIR
set -euo pipefail
cd "$1"
status=0
while IFS= read -r hit; do
  case "$hit" in
    *--no-tests=error*) ;;
    *) echo "a ctest run that passes with zero tests: $hit"; status=1 ;;
  esac
done < <(grep -nE '(^|[[:space:];(])ctest[[:space:]]' Makefile scripts/*.sh | grep -vE ':[0-9]+:[[:space:]]*#')
configure=$(sed -n '/-B "\$build64"/,/[^\\]$/p' scripts/windows-check.sh)
case "$configure" in
  *-DTARVO_TESTS=ON*) ;;
  *) echo "make windows configures the 64-bit build without -DTARVO_TESTS=ON: $configure"; status=1 ;;
esac
[ $status -eq 0 ] && echo "every ctest run refuses zero tests"
exit $status
