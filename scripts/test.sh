#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test: unit and end-to-end suites, interop
# tests against independent peers, the short soak, and bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
(cd build && ctest --output-on-failure --parallel "$(nproc)" --label-exclude long)
scripts/fuzz.sh "${QUELVAN_FUZZ_SECONDS:-15}"
