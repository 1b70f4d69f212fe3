#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, replays each target's
# corpus as a regression test, then fuzzes each for a bounded time.
# Usage: scripts/fuzz.sh [build-dir] [seconds-per-target] [jobs]
# A finding stops the run; its input is printed with the command that
# replays it. Keep it as fuzz/corpus/<target>/regression-<what> once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-20}
jobs=${3:-2}
targets=(fuzz_frames fuzz_retorno fuzz_config fuzz_staging fuzz_exchange fuzz_rfc2217)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVO_FUZZ=ON -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for t in "${targets[@]}"; do
  bin="$build/fuzz/$t"
  corpus="fuzz/corpus/$t"
  mkdir -p "$work/$t"
  echo "== $t: corpus"
  if ! "$bin" -runs=0 -artifact_prefix="$work/$t-" "$corpus" >"$work/$t.replay.log" 2>&1; then
    tail -30 "$work/$t.replay.log"
    echo "$t: a corpus input breaks an invariant (see above)"
    status=1
    continue
  fi
  echo "== $t: fuzzing for ${seconds}s"
  # New inputs go to a scratch corpus: the kept corpus changes only by hand.
  if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$work/$t-" "$work/$t" "$corpus" \
      >"$work/$t.log" 2>&1; then
    tail -40 "$work/$t.log"
    for a in "$work/$t-"*; do
      [ -f "$a" ] || continue
      keep="fuzz/corpus/$t/regression-$(basename "$a" | sed "s/^$t-//")"
      cp "$a" "$keep"
      echo "$t: finding kept as $keep; replay: $bin $keep"
    done
    status=1
    continue
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$work/$t.log" | tr '\n' ' '
  echo
done
exit $status
