#!/usr/bin/env bash
# Configures and builds one build tree.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
jobs=${VK_JOBS:-2}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
else
  cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j"$jobs"
