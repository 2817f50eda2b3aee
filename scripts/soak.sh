#!/usr/bin/env bash
# The long soak: builds, then runs the soak test with TRANSACTIONS (default 120000) over RTU
# and ASCII lanes on faulty virtual null-modems; prints the seed, the heap after each round
# and the totals. SEED repeats an earlier run's random draws.
# Usage: scripts/soak.sh [TRANSACTIONS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
export QUELVAN_SOAK_TRANSACTIONS=${1:-120000}
if [ -n "${2:-}" ]; then export QUELVAN_SOAK_SEED=$2; fi
export QUELVAN_SOAK_ROUNDS=${QUELVAN_SOAK_ROUNDS:-12}
export QUELVAN_SOAK_RTU_LANES=${QUELVAN_SOAK_RTU_LANES:-10}
export QUELVAN_SOAK_ASCII_LANES=${QUELVAN_SOAK_ASCII_LANES:-4}
exec build/tests/soak/soak_tests
