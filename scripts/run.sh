#!/usr/bin/env bash
# Sets everything up and runs the main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh "$root/build"
out="$root/build/run-output"
"$root/build/bin/vk-corecheck" --out "$out"
echo "Output is in $out"
