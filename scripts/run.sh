#!/usr/bin/env bash
# Sets everything up and runs the main job: the launcher with the bench scheme
# (the simulated instrument and its parameter panels).
# With a display the launcher stays open until you close it. Without one it
# runs under xvfb-run (or offscreen), quits after a few seconds and says where
# its screenshot went.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh "$root/build"
player="$root/build/bin/Player"
scheme="$root/build/bin/schemes/bench.vms"
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  exec "$player" "$scheme"
fi
out="$root/build/run-output"
mkdir -p "$out"
args=("$scheme" --quit-after "${VK_RUN_SECONDS:-5}" --screenshot "$out/player.png")
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x800x24" "$player" "${args[@]}"
else
  QT_QPA_PLATFORM=offscreen "$player" "${args[@]}"
fi
echo "The launcher ran the bench scheme without a display; its window is in $out/player.png"
