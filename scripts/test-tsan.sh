#!/usr/bin/env bash
# The test suite under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build-tsan -DQUELVAN_SANITIZE=thread -DQUELVAN_BUILD_BENCH=OFF
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
(cd build-tsan && ctest --output-on-failure --parallel "$(nproc)" --label-exclude long)
