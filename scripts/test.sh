#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test

build=${BUILD_DIR:-build}
werror=OFF
[ "${CI:-}" = true ] && werror=ON

cmake -S . -B "$build" -DCHECKERCUBE_WERROR="$werror"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# the benchmark in brief, to show that it runs; CI gates on no number of it
bench_out=$(mktemp -d)
trap 'rm -rf "$bench_out"' EXIT
BUILD_DIR=$build scripts/bench.sh --quick --out "$bench_out"
