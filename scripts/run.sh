#!/usr/bin/env bash
# Sets up, builds and runs the demo; its console dialogue runs in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run

build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
exec "$build/checkercube" "$@"
