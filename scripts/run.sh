#!/usr/bin/env bash
# Sets up, builds and runs the demo; its console dialogue runs in this terminal.
# Without an X display it records a short preview GIF on a private Xvfb instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run

# a -display option names a display just as DISPLAY does
headless=true
[ -n "${DISPLAY:-}" ] && headless=false
for arg in "$@"; do
    [ "$arg" = -display ] && headless=false
done
if $headless; then
    echo "No X display (DISPLAY is not set): previewing on a virtual X server and recording a GIF."
    scripts/setup.sh preview
fi

build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
$headless || exec "$build/checkercube" "$@"

. scripts/lib-xvfb.sh
trap xvfb_stop EXIT
run_preview "$build/checkercube" "$(realpath "$build")/preview.gif" 3 "$@"
