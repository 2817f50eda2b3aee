#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh <build-dir> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
else
  cmake -S . -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" --parallel "$(nproc)"
