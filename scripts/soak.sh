#!/usr/bin/env bash
# make soak: the plain suite RUNS times in a row at -j4 while another build
# of the project keeps both cores busy. A flaky test shows up here long
# before it shows up in CI. Usage: scripts/soak.sh BUILD RUNS LOAD_BUILD
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-20}
load_build=${3:-build-soak-load}

cmake -S . -B "$load_build" -DCMAKE_BUILD_TYPE=Debug -DTARVO_BENCH=OFF >/dev/null

# The load: clean rebuilds in a loop, in a process group of its own, so
# that it can be ended by its id, children and all.
setsid bash -c "while :; do cmake --build '$load_build' --clean-first -j 2 >/dev/null 2>&1 || sleep 1; done" &
load=$!
trap 'kill -TERM -- -"$load" 2>/dev/null || true; wait "$load" 2>/dev/null || true' EXIT

for run in $(seq 1 "$runs"); do
  start=$(date +%s)
  if ! ctest --test-dir "$build" --no-tests=error -j 4 --output-on-failure >"$build/soak-$run.log" 2>&1; then
    echo "soak: run $run of $runs failed; see $build/soak-$run.log" >&2
    grep -E '^\s+[0-9]+ - ' "$build/soak-$run.log" >&2 || true
    exit 1
  fi
  echo "soak: run $run of $runs passed in $(($(date +%s) - start)) s"
done
echo "soak: $runs runs passed under load"
