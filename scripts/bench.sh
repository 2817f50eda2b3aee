#!/usr/bin/env bash
# Builds and runs every benchmark: codec throughput (quelvan_bench, Google Benchmark), then
# transactions, CPU, idle cost and memory over a paced virtual null-modem, with libmodbus on
# the same line (quelvan_line_bench). The run itself takes about three minutes.
# Usage: scripts/bench.sh [build-dir] [quelvan_line_bench options...]
# The report (Markdown) goes to stdout and to <build-dir>/bench-report.md; progress and any
# transaction that failed go to stderr and to <build-dir>/bench-progress.log.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
if [ $# -gt 0 ] && [[ $1 != -* ]]; then dir=$1; shift; fi

scripts/setup.sh >&2
if [ ! -f "$dir/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
cmake --build "$dir" --parallel 2 --target quelvan_bench quelvan_line_bench >&2

report=$dir/bench-report.md
start=$(date +%s)
{
  echo "# Quelvan benchmark run, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "- machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(uname -r)"
  echo "- build: $(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$dir/CMakeCache.txt"), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "- load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo "## Codec (quelvan_bench)"
  echo
  echo '```'
  "$dir/bench/quelvan_bench" --benchmark_min_time=0.5 2>/dev/null
  echo '```'
  echo
  "$dir/bench/quelvan_line_bench" "$@" 2> >(tee "$dir/bench-progress.log" >&2)
  echo
  echo "- load average at end: $(cut -d' ' -f1-3 /proc/loadavg); run time $(( $(date +%s) - start )) s"
} | tee "$report"
