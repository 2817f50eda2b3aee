#!/usr/bin/env bash
# The main job: sets up the machine, builds, and runs the demonstration on a virtual
# null-modem (no hardware needed). Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DQUELVAN_BUILD_TESTS=ON
exec build/tools/quelvan simulate "$@"
