#!/usr/bin/env bash
# The test suite under AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build-asan -DQUELVAN_SANITIZE=address -DQUELVAN_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --parallel "$(nproc)" --label-exclude long)
