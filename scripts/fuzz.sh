#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for SECONDS (default 60)
# on its corpus in tests/fuzz/corpus/<target>. Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DQUELVAN_BUILD_FUZZ=ON -DQUELVAN_SANITIZE=address -DQUELVAN_BUILD_TESTS=OFF \
  -DQUELVAN_BUILD_BENCH=OFF -DQUELVAN_BUILD_TOOLS=OFF
shopt -s nullglob
targets=(build-fuzz/tests/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "fuzz: no targets"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus=tests/fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus"
  work=$(mktemp -d)
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=0 "$work" "$corpus" 2>"$work.log" || { tail -50 "$work.log"; exit 1; }
  rm -rf "$work" "$work.log"
done
