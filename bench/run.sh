#!/usr/bin/env bash
# Runs the benchmarks of a build and prints the tables of
# docs/performance.md: the micro-benchmarks, the system calls per exchange
# (with perf, when it can count them), and the end-to-end table.
# Usage: bench/run.sh BUILD_DIR [--quick]
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [--quick]}
quick=${2:-}
micro="$build/bench/tarvo_micro_bench"
e2e="$build/bench/tarvo_e2e_bench"

echo "## Micro-benchmarks (median of 5 repetitions)"
echo
if [ "$quick" = "--quick" ]; then
  "$micro" --benchmark_min_time=0.01
else
  "$micro" --benchmark_min_time=0.2 --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>&1 | grep -v -E '_(mean|stddev|cv) '
fi

echo
echo "## System calls per exchange (LeTexto, about 33 answer bytes)"
echo
# perf counts in the kernel without stopping the program; strace would
# slow every call down and change how many bytes wait at each read.
events=syscalls:sys_enter_read,syscalls:sys_enter_poll,syscalls:sys_enter_ioctl,syscalls:sys_enter_write
if command -v perf >/dev/null && perf stat -e syscalls:sys_enter_read true >/dev/null 2>&1; then
  echo "| run | read | poll | ioctl | write | in all |"
  echo "|---|---|---|---|---|---|"
  for mode in driver-paced floor-paced driver-instant floor-instant; do
    out=$(perf stat --no-inherit -x, -e "$events" "$e2e" --only "$mode" --paced 60 --instant 300 2>&1)
    all=$(sed -n "s/^$mode: \([0-9]*\) exchanges in all.*/\1/p" <<<"$out")
    count() { awk -F, -v e="syscalls:sys_enter_$1" '$3 == e { print $1 }' <<<"$out"; }
    awk -v m="$mode" -v n="$all" -v r="$(count read)" -v p="$(count poll)" -v i="$(count ioctl)" \
      -v w="$(count write)" 'BEGIN {
        printf "| %s | %.1f | %.1f | %.1f | %.1f | %.1f |\n", m, r / n, p / n, i / n, w / n,
               (r + p + i + w) / n }'
  done
else
  echo "(perf cannot count system calls here; see docs/performance.md for strace -c)"
fi

echo
echo "## End to end"
"$e2e" $quick

echo
echo "## The session lock: the driver with it and without it"
if [ "$quick" = "--quick" ]; then
  "$build/bench/tarvo_lock_bench" --rounds 3 --exchanges 300
else
  "$build/bench/tarvo_lock_bench"
fi

echo
echo "## Network port (RFC 2217) through ser2net"
echo
if [ "$quick" = "--quick" ]; then
  "$build/bench/tarvo_net_bench" --rounds 1 --exchanges 5
else
  "$build/bench/tarvo_net_bench"
fi
