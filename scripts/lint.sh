#!/usr/bin/env bash
# Static analysis of src/ and tools/: clang-tidy (checks in .clang-tidy, warnings are
# errors) and cppcheck, both on the compile commands of a clang build
# directory; and every C and C++ file laid out as .clang-format says.
# Usage: scripts/lint.sh [build-dir] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tidy}
jobs=${2:-2}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF >/dev/null

echo "== clang-tidy"
run-clang-tidy -p "$build" -j "$jobs" -quiet "$PWD/src/" "$PWD/tools/"

echo "== cppcheck"
# Left out, on purpose:
# - useStlAlgorithm: the fixed tables of the layers are searched with plain
#   loops, which read step by step like the rest of the layer;
# - missingIncludeSystem: cppcheck does not need the system headers here;
# - unusedPrivateFunction in the emulator's printer: its command members
#   are reached through the command table's member pointers, which
#   cppcheck does not follow.
cppcheck --project="$build/compile_commands.json" --file-filter='*src/*' --file-filter='*tools/*' \
  --enable=warning,style,performance,portability --std=c++20 --inline-suppr \
  --suppress=useStlAlgorithm --suppress=missingIncludeSystem \
  --suppress='unusedPrivateFunction:*tools/emulator/printer.h' \
  --error-exitcode=1 --quiet -j "$jobs"
echo "== clang-format"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "lint: clean"
