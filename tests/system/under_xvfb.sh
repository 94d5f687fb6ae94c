#!/bin/sh
# Runs a test program under an X server of its own when xvfb-run is there
# (real windows, a window-less X server), offscreen otherwise.
if command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb exec xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1600x1000x24" "$@"
fi
exec "$@"
